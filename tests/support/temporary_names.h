// File names beside an output, and whether each is that of a staged file's temporary file: the
// staged file's test checks the rule with them, the export plan's test the listing of leftovers.
#pragma once

namespace kestro::test {

struct TemporaryNameCase {
    const char* name;
    bool temporary;
};

inline constexpr TemporaryNameCase kTemporaryNameCases[] = {
    {".x.avi.0a1b2c3d.part", true},
    {".NAME_0017.fit.deadBEEF.part", true},
    {".kestro-export.00000000.part", true},
    {"x.avi.0a1b2c3d.part", false},
    {".x.avi.0a1b2c3.part", false},
    {".x.avi.0a1b2c3g.part", false},
    {".0a1b2c3d.part", false},
    {".x.avi.part", false},
    {"x.avi", false},
};

} // namespace kestro::test
