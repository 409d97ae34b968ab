#include "ser_format.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace kestro::ser {

namespace {

// Ordered by id. The sites name the filter colours of the top-left 2x2 pixels of the picture
// as stored, rows top-down: row 0 left, row 0 right, row 1 left, row 1 right.
constexpr ColorInfo kColors[] = {
    {ColorId::Mono, "MONO", Sampling::Mono, 1, ""},      {ColorId::RGGB, "RGGB", Sampling::Bayer, 1, "RGGB"},
    {ColorId::GRBG, "GRBG", Sampling::Bayer, 1, "GRBG"}, {ColorId::GBRG, "GBRG", Sampling::Bayer, 1, "GBRG"},
    {ColorId::BGGR, "BGGR", Sampling::Bayer, 1, "BGGR"}, {ColorId::CYYM, "CYYM", Sampling::Cmy, 1, "CYYM"},
    {ColorId::YCMY, "YCMY", Sampling::Cmy, 1, "YCMY"},   {ColorId::YMCY, "YMCY", Sampling::Cmy, 1, "YMCY"},
    {ColorId::MYYC, "MYYC", Sampling::Cmy, 1, "MYYC"},   {ColorId::RGB, "RGB", Sampling::Rgb, 3, ""},
    {ColorId::BGR, "BGR", Sampling::Bgr, 3, ""},
};

constexpr std::size_t kIdBytes = 14;
constexpr std::size_t kFlagOffset = 22;

// Frames are read whole into one buffer, and the picture code indexes them with 32-bit sizes.
constexpr std::uint64_t kMaxFrameBytes = 0x7fff'ffff;

std::int32_t int32At(const std::uint8_t* p)
{
    return static_cast<std::int32_t>(std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8 | std::uint32_t(p[2]) << 16 |
                                     std::uint32_t(p[3]) << 24);
}

std::int64_t int64At(const std::uint8_t* p)
{
    std::uint64_t v = 0;
    for (int i = 7; i >= 0; --i)
        v = v << 8 | p[i];
    return static_cast<std::int64_t>(v);
}

std::string textAt(const std::uint8_t* p, std::size_t n)
{
    std::size_t len = 0;
    while (len < n && p[len] != 0)
        ++len;
    while (len > 0 && p[len - 1] == ' ')
        --len;
    return std::string(reinterpret_cast<const char*>(p), len);
}

void putInt32(std::uint8_t* p, std::int32_t value)
{
    const auto v = static_cast<std::uint32_t>(value);
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void putInt64(std::uint8_t* p, std::int64_t value)
{
    const auto v = static_cast<std::uint64_t>(value);
    for (int i = 0; i < 8; ++i)
        p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

void putText(std::uint8_t* p, std::size_t n, const std::string& text)
{
    std::size_t len = std::min(text.size(), n);
    // A UTF-8 character cut in two would leave a byte no reader can show.
    while (len < text.size() && len > 0 && (static_cast<unsigned char>(text[len]) & 0xC0) == 0x80)
        --len;
    std::memcpy(p, text.data(), len);
    std::memset(p + len, 0, n - len);
}

std::string colorList()
{
    std::string list;
    for (const ColorInfo& c : kColors)
        list += (list.empty() ? "" : ", ") + std::to_string(static_cast<int>(c.id)) + " " + c.name;
    return list;
}

} // namespace

std::span<const ColorInfo> colors() { return kColors; }

const ColorInfo* findColor(std::int32_t id)
{
    for (const ColorInfo& c : kColors)
        if (static_cast<std::int32_t>(c.id) == id)
            return &c;
    return nullptr;
}

Header parseHeader(std::span<const std::uint8_t, kHeaderBytes> bytes)
{
    const std::uint8_t* p = bytes.data();
    Header h;
    h.fileId = textAt(p, kIdBytes);
    h.luId = int32At(p + 14);
    h.colorId = int32At(p + 18);
    h.littleEndian = int32At(p + 22);
    h.width = int32At(p + 26);
    h.height = int32At(p + 30);
    h.pixelDepth = int32At(p + 34);
    h.frameCount = int32At(p + 38);
    h.observer = textAt(p + 42, 40);
    h.instrument = textAt(p + 82, 40);
    h.telescope = textAt(p + 122, 40);
    h.dateTime = int64At(p + 162);
    h.dateTimeUtc = int64At(p + 170);
    return h;
}

std::array<std::uint8_t, kHeaderBytes> encodeHeader(const Header& h)
{
    std::array<std::uint8_t, kHeaderBytes> bytes{};
    std::uint8_t* p = bytes.data();
    putText(p, kIdBytes, h.fileId);
    putInt32(p + 14, h.luId);
    putInt32(p + 18, h.colorId);
    putInt32(p + 22, h.littleEndian);
    putInt32(p + 26, h.width);
    putInt32(p + 30, h.height);
    putInt32(p + 34, h.pixelDepth);
    putInt32(p + 38, h.frameCount);
    putText(p + 42, 40, h.observer);
    putText(p + 82, 40, h.instrument);
    putText(p + 122, 40, h.telescope);
    putInt64(p + 162, h.dateTime);
    putInt64(p + 170, h.dateTimeUtc);
    return bytes;
}

bool looksLikeSer(std::span<const std::uint8_t> firstBytes)
{
    if (firstBytes.size() < kFlagOffset + 4)
        return false;
    // The id is text: an AVI's "RIFF" is followed by a binary size within these 14 bytes, and a
    // text file's bytes 22 to 25 are never an int32 of 0 or 1.
    if (firstBytes[0] <= ' ' || firstBytes[0] > '~')
        return false;
    for (std::size_t i = 1; i < kIdBytes; ++i)
        if (firstBytes[i] != 0 && (firstBytes[i] < ' ' || firstBytes[i] > '~'))
            return false;
    if (std::memcmp(firstBytes.data(), "RIFF", 4) == 0)
        return false;
    const std::int32_t flag = int32At(firstBytes.data() + kFlagOffset);
    return flag == 0 || flag == 1;
}

std::string headerProblem(const Header& h, std::uint64_t fileBytes)
{
    const ColorInfo* color = findColor(h.colorId);
    if (!color)
        return "its colour id " + std::to_string(h.colorId) + " is not one of the format's (" + colorList() + ")";
    if (h.width <= 0)
        return "its frame width is " + std::to_string(h.width) + "; a frame is at least one pixel wide";
    if (h.height <= 0)
        return "its frame height is " + std::to_string(h.height) + "; a frame is at least one pixel high";
    if (h.pixelDepth < 1 || h.pixelDepth > 16)
        return "its bit depth is " + std::to_string(h.pixelDepth) + "; the format holds 1 to 16 bits per sample";
    // Each factor is below 2^31 and the product of the small ones below 8, so the check of
    // width * height against the limit cannot itself overflow.
    const std::uint64_t sampleBytes = static_cast<std::uint64_t>(color->planes) * (h.pixelDepth > 8 ? 2 : 1);
    const std::uint64_t pixels = static_cast<std::uint64_t>(h.width) * static_cast<std::uint64_t>(h.height);
    if (pixels > kMaxFrameBytes / sampleBytes)
        return "its frames of " + std::to_string(h.width) + " x " + std::to_string(h.height) +
               " pixels would each take more than 2 GiB, larger than any frame this program reads";
    const std::uint64_t frameBytes = pixels * sampleBytes;
    if (fileBytes < kHeaderBytes)
        return "the file ends inside its " + std::to_string(kHeaderBytes) + "-byte header";
    if (fileBytes - kHeaderBytes < frameBytes)
        return "it holds no whole frame: a frame takes " + std::to_string(frameBytes) + " bytes, and " +
               std::to_string(fileBytes - kHeaderBytes) + " follow the header";
    return {};
}

std::optional<CivilTime> civilTime(std::int64_t ticks)
{
    if (ticks < 0 || ticks > kMaxTicks)
        return std::nullopt;
    constexpr std::int64_t kTicksPerSecond = 10'000'000;
    constexpr std::int64_t kTicksPerDay = 86'400 * kTicksPerSecond;
    CivilTime t;
    std::int64_t inDay = ticks % kTicksPerDay;
    t.ticks = static_cast<int>(inDay % kTicksPerSecond);
    inDay /= kTicksPerSecond;
    t.second = static_cast<int>(inDay % 60);
    t.minute = static_cast<int>(inDay / 60 % 60);
    t.hour = static_cast<int>(inDay / 3600);
    // Days since 0000-03-01, so that each 400-year era begins with a March and leap days fall at
    // the end of a year (the days-to-civil method of H. Hinnant's date algorithms). 0001-01-01 is
    // day 306 of year 0's March-based count.
    const std::int64_t days = ticks / kTicksPerDay + 306;
    const std::int64_t era = days / 146'097;
    const std::int64_t dayOfEra = days - era * 146'097;
    const std::int64_t yearOfEra = (dayOfEra - dayOfEra / 1460 + dayOfEra / 36'524 - dayOfEra / 146'096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    t.day = static_cast<int>(dayOfYear - (153 * mp + 2) / 5 + 1);
    t.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    t.year = static_cast<int>(yearOfEra + era * 400 + (t.month <= 2 ? 1 : 0));
    return t;
}

std::string formatIso8601(std::int64_t ticks)
{
    const std::optional<CivilTime> t = civilTime(ticks);
    if (!t)
        return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", t->year, t->month, t->day, t->hour,
                  t->minute, t->second, t->ticks / 10'000);
    return text;
}

} // namespace kestro::ser
