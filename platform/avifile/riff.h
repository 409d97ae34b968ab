// Little-endian access and the four-character codes of the RIFF AVI container.
#pragma once

#include "avifile.h"

#include <cstdint>
#include <cstring>
#include <string>

namespace kestro::avi {

inline std::uint16_t le16(const void* p)
{
    const auto* b = static_cast<const std::uint8_t*>(p);
    return static_cast<std::uint16_t>(b[0] | (b[1] << 8));
}

inline std::uint32_t le32(const void* p)
{
    const auto* b = static_cast<const std::uint8_t*>(p);
    return static_cast<std::uint32_t>(b[0]) | (static_cast<std::uint32_t>(b[1]) << 8) |
           (static_cast<std::uint32_t>(b[2]) << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

inline std::uint64_t le64(const void* p)
{
    const auto* b = static_cast<const std::uint8_t*>(p);
    return static_cast<std::uint64_t>(le32(b)) | (static_cast<std::uint64_t>(le32(b + 4)) << 32);
}

inline void putLe16(void* p, std::uint16_t v)
{
    auto* b = static_cast<std::uint8_t*>(p);
    b[0] = static_cast<std::uint8_t>(v);
    b[1] = static_cast<std::uint8_t>(v >> 8);
}

inline void putLe32(void* p, std::uint32_t v)
{
    auto* b = static_cast<std::uint8_t*>(p);
    for (int i = 0; i < 4; ++i)
        b[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline void putLe64(void* p, std::uint64_t v)
{
    putLe32(p, static_cast<std::uint32_t>(v));
    putLe32(static_cast<std::uint8_t*>(p) + 4, static_cast<std::uint32_t>(v >> 32));
}

// Printable form of a four-character code, for tools and messages.
inline std::string fourccText(FOURCC f)
{
    std::string s;
    for (int i = 0; i < 4; ++i) {
        const char c = static_cast<char>((f >> (8 * i)) & 0xFF);
        s += (c >= 32 && c < 127) ? c : '.';
    }
    return s;
}

// Four-character codes are case-insensitive in practice ("yuy2", "mjpg" appear in the
// wild); tables hold the upper-case spelling and lookups compare this.
inline FOURCC upperFourcc(FOURCC f)
{
    FOURCC out = 0;
    for (int i = 0; i < 4; ++i) {
        auto c = static_cast<std::uint8_t>((f >> (8 * i)) & 0xFF);
        if (c >= 'a' && c <= 'z')
            c = static_cast<std::uint8_t>(c - 'a' + 'A');
        out |= static_cast<FOURCC>(c) << (8 * i);
    }
    return out;
}

namespace fcc {
constexpr FOURCC RIFF = mmioFOURCC('R', 'I', 'F', 'F');
constexpr FOURCC LIST = mmioFOURCC('L', 'I', 'S', 'T');
constexpr FOURCC AVI_ = mmioFOURCC('A', 'V', 'I', ' ');
constexpr FOURCC AVIX = mmioFOURCC('A', 'V', 'I', 'X');
constexpr FOURCC hdrl = mmioFOURCC('h', 'd', 'r', 'l');
constexpr FOURCC avih = mmioFOURCC('a', 'v', 'i', 'h');
constexpr FOURCC strl = mmioFOURCC('s', 't', 'r', 'l');
constexpr FOURCC strh = mmioFOURCC('s', 't', 'r', 'h');
constexpr FOURCC strf = mmioFOURCC('s', 't', 'r', 'f');
constexpr FOURCC strn = mmioFOURCC('s', 't', 'r', 'n');
constexpr FOURCC indx = mmioFOURCC('i', 'n', 'd', 'x');
constexpr FOURCC odml = mmioFOURCC('o', 'd', 'm', 'l');
constexpr FOURCC dmlh = mmioFOURCC('d', 'm', 'l', 'h');
constexpr FOURCC movi = mmioFOURCC('m', 'o', 'v', 'i');
constexpr FOURCC rec_ = mmioFOURCC('r', 'e', 'c', ' ');
constexpr FOURCC idx1 = mmioFOURCC('i', 'd', 'x', '1');
constexpr FOURCC JUNK = mmioFOURCC('J', 'U', 'N', 'K');
constexpr FOURCC INFO = mmioFOURCC('I', 'N', 'F', 'O');
constexpr FOURCC vids = streamtypeVIDEO;
constexpr FOURCC auds = streamtypeAUDIO;
constexpr FOURCC DIB_ = mmioFOURCC('D', 'I', 'B', ' ');
} // namespace fcc

// idx1 entry flags.
constexpr std::uint32_t kIdx1KeyFrame = 0x10;
constexpr std::uint32_t kIdx1List = 0x01;

// OpenDML index types.
constexpr std::uint8_t kIndexOfIndexes = 0x00;
constexpr std::uint8_t kIndexOfChunks = 0x01;
// In a standard index, bit 31 of a chunk size marks a frame that is not a key frame.
constexpr std::uint32_t kOdmlDeltaFrame = 0x80000000u;

// Stream number of a movi chunk id such as "00db" or "01wb"; -1 when the id has none.
inline int chunkStream(FOURCC id)
{
    const int c0 = static_cast<int>(id & 0xFF);
    const int c1 = static_cast<int>((id >> 8) & 0xFF);
    auto hex = [](int c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    const int h = hex(c0);
    const int l = hex(c1);
    if (h < 0 || l < 0)
        return -1;
    return h * 16 + l;
}

// Chunk id of stream n's data: "nnxx" with the two-letter type.
inline FOURCC chunkId(int stream, char a, char b)
{
    static constexpr char digits[] = "0123456789abcdef";
    return mmioFOURCC(digits[(stream >> 4) & 15], digits[stream & 15], a, b);
}

} // namespace kestro::avi
