// Writes an uncompressed I420 AVI as a colour planetary camera records it: the Bayer mosaic in
// the Y plane, U and V at 128. The sample tool and the known-blur fixtures both write theirs
// with it.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <cstddef>
#include <functional>
#include <map>
#include <set>
#include <string>

namespace kestro::tools {

// `fill(i, plane)` writes frame i's Y plane, width x height bytes; the frames in `empty` are
// stored without data (dropped), and a frame in `cut` keeps only its first `cut[i]` bytes, as a
// recorder that fell behind leaves one. Returns the first failure of the AVI file services, or
// AVIERR_OK once the file is committed.
HRESULT WriteI420Capture(const std::string& path, int width, int height, int frames, DWORD rate,
                         const std::function<void(int, std::uint8_t*)>& fill, const std::set<int>& empty,
                         const std::map<int, std::size_t>& cut = {});

} // namespace kestro::tools
