// CFITSIO is loaded when a file is first saved. A library that is not there, or not the one the
// program was built for, must leave the writer without functions and say why in words, never
// crash the process at the first call.
#include "cfitsio_library.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using namespace kestro::kxfits;

TEST(CfitsioLibrary, MissingLibraryOrFunctionGivesNoFunctionsAndNamesIt)
{
    const std::string newer = "libcfitsio.so." + std::to_string(CFITSIO_SONAME + 100);
    const struct {
        const char* what;
        std::string name;
        std::string named;
    } cases[] = {
        {"an ABI version that is not installed", newer, newer},
        {"a library without the functions looked up in it", "libc.so.6", "ffdkinit"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const CfitsioLoad load = loadCfitsio(c.name);
        EXPECT_FALSE(load.library.has_value());
        EXPECT_NE(load.error.find(c.named), std::string::npos) << load.error;
    }
}

} // namespace
