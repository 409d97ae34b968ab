// Feeds arbitrary bytes to the SER reader as a file. A file it opens must hold every frame it
// counts: each one, and its time, reads in every byte order and through every output kind.
#include "fuzz_support.h"
#include "memory_file.h"
#include "ser_reader.h"

#include <algorithm>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace {

using namespace kestro::ser;
using kestro::fuzz::require;

void readAll(const SerReader& r)
{
    const FrameLayout& l = r.layout();
    require(l.rowBytes * static_cast<std::size_t>(l.height) == l.frameBytes, "the frame is its rows");
    std::vector<std::uint8_t> stored(l.frameBytes);
    std::vector<std::uint16_t> wide(l.frameBytes);
    const auto wideStride = static_cast<std::ptrdiff_t>(l.width) * l.planes * 2;
    // The first frames and the last: the rest only repeat them at other offsets.
    for (std::int32_t i = 0; i < r.frameCount(); i = i < 3 ? i + 1 : std::max(i + 1, r.frameCount() - 1)) {
        require(static_cast<bool>(r.readStoredBytes(i, stored)), "a counted frame reads as stored");
        require(static_cast<bool>(r.readFrame(i, wide.data(), wideStride)), "a counted frame reads as 16-bit");
        // A band of rows, as the display and the sums read them, holds the same samples as the
        // whole frame read at its depth.
        if (l.height >= 2) {
            const std::size_t bandBytes = l.frameBytes - l.rowBytes;
            std::vector<std::uint8_t> band(bandBytes);
            require(
                static_cast<bool>(r.readRows(i, 1, l.height - 1, band.data(), static_cast<std::ptrdiff_t>(l.rowBytes))),
                "a band of a counted frame reads");
            const auto* whole =
                l.bytesPerSample == 2 ? reinterpret_cast<const std::uint8_t*>(wide.data()) : stored.data();
            require(std::equal(band.begin(), band.end(), whole + l.rowBytes), "a band is the frame's rows");
        }
        require(!r.readRows(i, l.height, 1, stored.data(), static_cast<std::ptrdiff_t>(l.rowBytes)),
                "no row past the frame");
        if (l.bytesPerSample == 1)
            require(static_cast<bool>(r.readFrame(i, stored.data() + (l.frameBytes - l.rowBytes),
                                                  -static_cast<std::ptrdiff_t>(l.rowBytes))),
                    "a counted 8-bit frame reads bottom-up");
        if (const auto t = r.frameTimeUtc(i))
            require(!formatIso8601(*t).empty(), "a frame time is a time");
    }
    require(!r.readFrame(r.frameCount(), wide.data(), wideStride), "no frame past the count");
    require(r.realDepth() >= 1 && r.realDepth() <= 16, "a real depth of 1 to 16 bits");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const bool ser = looksLikeSer(std::span(data, size));
    kestro::fuzz::withMemoryFile(data, size, [&](const std::string& path) {
        OpenResult opened = openSer(path);
        if (!opened.reader) {
            require(!opened.error.empty(), "a refusal says why");
            return;
        }
        require(ser, "only what looks like SER opens");
        SerReader& r = *opened.reader;
        require(r.frameCount() >= 1, "an open capture holds a frame");
        require(kHeaderBytes + static_cast<std::uint64_t>(r.frameCount()) * r.layout().frameBytes +
                        (r.hasFrameTimes() ? 8u * static_cast<std::uint64_t>(r.frameCount()) : 0u) + r.extraBytes() ==
                    size,
                "frames, times and extra bytes make up the file");
        readAll(r);
        r.setByteOrder(ByteOrder::Big);
        readAll(r);
        r.setByteOrder(ByteOrder::Little);
        readAll(r);
    });
    return 0;
}
