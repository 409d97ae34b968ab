#include "capture_format.h"

#include "input_file.h"
#include "ser_format.h"

#include <algorithm>
#include <cstdint>
#include <span>

namespace kestro::video {

CaptureFormat CaptureFormatOf(const std::string& path)
{
    fileio::InputFile file;
    if (!file.open(path))
        return CaptureFormat::Avi;
    std::uint8_t head[32] = {};
    const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(file.size(), sizeof head));
    if (file.readAt(0, head, n) && ser::looksLikeSer(std::span<const std::uint8_t>(head, n)))
        return CaptureFormat::Ser;
    return CaptureFormat::Avi;
}

} // namespace kestro::video
