// Builds small AVI files byte by byte for the reader's tests, independently of our
// writer, so a fault shared by reader and writer cannot hide. Offsets of the parts a
// test may want to damage are reported back.
#pragma once

#include "dib.h"

#include <cstdint>
#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace kestro::test {

using Bytes = std::vector<std::uint8_t>;

inline std::uint32_t fourcc(const char* s)
{
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[0])) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[1])) << 8) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[2])) << 16) |
           (static_cast<std::uint32_t>(static_cast<std::uint8_t>(s[3])) << 24);
}

inline void put16(Bytes& b, std::uint32_t v)
{
    b.push_back(static_cast<std::uint8_t>(v));
    b.push_back(static_cast<std::uint8_t>(v >> 8));
}

inline void put32(Bytes& b, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b.push_back(static_cast<std::uint8_t>(v >> (8 * i)));
}

inline void poke32(Bytes& b, std::size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(v >> (8 * i));
}

inline std::uint32_t peek32(const Bytes& b, std::size_t at)
{
    return static_cast<std::uint32_t>(b[at]) | (static_cast<std::uint32_t>(b[at + 1]) << 8) |
           (static_cast<std::uint32_t>(b[at + 2]) << 16) | (static_cast<std::uint32_t>(b[at + 3]) << 24);
}

inline Bytes chunk(const char* id, const Bytes& data)
{
    Bytes b;
    put32(b, fourcc(id));
    put32(b, static_cast<std::uint32_t>(data.size()));
    b.insert(b.end(), data.begin(), data.end());
    if (data.size() & 1)
        b.push_back(0);
    return b;
}

inline Bytes list(const char* type, const Bytes& children, const char* id = "LIST")
{
    Bytes b;
    put32(b, fourcc(id));
    put32(b, static_cast<std::uint32_t>(children.size() + 4));
    put32(b, fourcc(type));
    b.insert(b.end(), children.begin(), children.end());
    return b;
}

struct AviLayout {
    int width = 8;
    int height = 4;
    int bitCount = 24;
    std::uint32_t compression = 0;
    std::uint32_t handler = 0;
    // One entry per frame; an empty vector is a frame stored without data.
    std::vector<Bytes> frames;
    enum class Index { Relative, Absolute, None } index = Index::Relative;
    bool recLists = false;   // wrap every frame in a LIST 'rec '
    bool junk = false;       // JUNK and unknown chunks between headers and frames
    bool audioFirst = false; // an audio stream before the video stream, with chunks of its own
    bool audioOnly = false;
    std::string chunkType = "db";
    Bytes palette; // appended to strf

    // Filled by build().
    std::size_t moviOffset = 0;            // offset of the LIST header of movi
    std::size_t idx1Offset = 0;            // offset of the idx1 chunk header (0 when none)
    std::size_t strhOffset = 0;            // offset of the video strh chunk header
    std::size_t strfOffset = 0;            // offset of the video strf chunk header
    std::vector<std::size_t> frameOffsets; // chunk header offset of each frame
};

// Fills frame k of a 24-bit layout with a recognisable pattern.
inline Bytes patternFrame(const AviLayout& l, int k)
{
    const std::size_t row = kestro::dib::stride(l.width, l.bitCount);
    Bytes f(row * static_cast<std::size_t>(l.height));
    for (std::size_t i = 0; i < f.size(); ++i)
        f[i] = static_cast<std::uint8_t>(i * 7 + static_cast<std::size_t>(k) * 31 + 1);
    return f;
}

inline Bytes strhFor(const char* type, std::uint32_t handler, std::uint32_t length, std::uint32_t bufferSize, int w,
                     int h)
{
    Bytes s;
    put32(s, fourcc(type));
    put32(s, handler);
    put32(s, 0);  // flags
    put16(s, 0);  // priority
    put16(s, 0);  // language
    put32(s, 0);  // initial frames
    put32(s, 1);  // scale
    put32(s, 25); // rate
    put32(s, 0);  // start
    put32(s, length);
    put32(s, bufferSize);
    put32(s, 0xFFFFFFFF); // quality
    put32(s, 0);          // sample size
    put16(s, 0);
    put16(s, 0);
    put16(s, static_cast<std::uint32_t>(w));
    put16(s, static_cast<std::uint32_t>(h));
    return s;
}

inline Bytes build(AviLayout& l)
{
    const int videoNo = l.audioFirst ? 1 : 0;
    std::uint32_t largest = 0;
    for (const auto& f : l.frames)
        largest = std::max<std::uint32_t>(largest, static_cast<std::uint32_t>(f.size()));

    Bytes avih;
    put32(avih, 40000);
    put32(avih, 0);
    put32(avih, 0);
    put32(avih, 0x10);
    put32(avih, static_cast<std::uint32_t>(l.frames.size()));
    put32(avih, 0);
    put32(avih, l.audioOnly ? 1 : (l.audioFirst ? 2 : 1));
    put32(avih, largest);
    put32(avih, static_cast<std::uint32_t>(l.width));
    put32(avih, static_cast<std::uint32_t>(l.height));
    for (int i = 0; i < 4; ++i)
        put32(avih, 0);

    Bytes audioStrl;
    {
        Bytes wfx;
        put16(wfx, 1);
        put16(wfx, 1);
        put32(wfx, 8000);
        put32(wfx, 16000);
        put16(wfx, 2);
        put16(wfx, 16);
        audioStrl = list("strl", [&] {
            Bytes c = chunk("strh", strhFor("auds", 0, 4, 400, 0, 0));
            Bytes f = chunk("strf", wfx);
            c.insert(c.end(), f.begin(), f.end());
            return c;
        }());
    }

    Bytes bih;
    put32(bih, 40);
    put32(bih, static_cast<std::uint32_t>(l.width));
    put32(bih, static_cast<std::uint32_t>(l.height));
    put16(bih, 1);
    put16(bih, static_cast<std::uint32_t>(l.bitCount));
    put32(bih, l.compression);
    put32(bih, largest);
    for (int i = 0; i < 4; ++i)
        put32(bih, 0);
    bih.insert(bih.end(), l.palette.begin(), l.palette.end());

    Bytes hdrlBody = chunk("avih", avih);
    if (l.audioFirst || l.audioOnly)
        hdrlBody.insert(hdrlBody.end(), audioStrl.begin(), audioStrl.end());
    std::size_t strhInStrl = 0;
    if (!l.audioOnly) {
        Bytes strlBody = chunk("strh", strhFor("vids", l.handler, static_cast<std::uint32_t>(l.frames.size()), largest,
                                               l.width, l.height));
        strhInStrl = hdrlBody.size() + 12; // after strl's LIST header
        Bytes strf = chunk("strf", bih);
        strlBody.insert(strlBody.end(), strf.begin(), strf.end());
        Bytes strl = list("strl", strlBody);
        hdrlBody.insert(hdrlBody.end(), strl.begin(), strl.end());
    }

    Bytes file;
    put32(file, fourcc("RIFF"));
    put32(file, 0); // patched below
    put32(file, fourcc("AVI "));
    const std::size_t hdrlAt = file.size();
    Bytes hdrl = list("hdrl", hdrlBody);
    file.insert(file.end(), hdrl.begin(), hdrl.end());
    l.strhOffset = l.audioOnly ? 0 : hdrlAt + 12 + strhInStrl;
    l.strfOffset = l.audioOnly ? 0 : l.strhOffset + 8 + 56;
    if (l.junk) {
        Bytes j = chunk("JUNK", Bytes(37, 0));
        file.insert(file.end(), j.begin(), j.end());
        Bytes u = chunk("zzzz", Bytes(5, 0xAB));
        file.insert(file.end(), u.begin(), u.end());
    }

    // movi
    l.moviOffset = file.size();
    put32(file, fourcc("LIST"));
    put32(file, 0);
    put32(file, fourcc("movi"));
    const std::size_t moviFourcc = l.moviOffset + 8;
    struct Entry {
        std::uint32_t id, flags, offset, size;
    };
    std::vector<Entry> entries;
    const std::string vid = std::string(videoNo ? "01" : "00") + l.chunkType;
    l.frameOffsets.clear();
    for (std::size_t k = 0; k < l.frames.size(); ++k) {
        if (l.audioFirst || l.audioOnly) {
            const std::size_t at = file.size();
            Bytes a = chunk("00wb", Bytes(100, 0x11));
            file.insert(file.end(), a.begin(), a.end());
            entries.push_back({fourcc("00wb"), 0x10, static_cast<std::uint32_t>(at), 100});
            if (l.audioOnly)
                continue;
        }
        if (l.junk && k == 1) {
            Bytes j = chunk("JUNK", Bytes(3, 0));
            file.insert(file.end(), j.begin(), j.end());
        }
        std::size_t recAt = 0;
        if (l.recLists) {
            recAt = file.size();
            put32(file, fourcc("LIST"));
            put32(file, 0);
            put32(file, fourcc("rec "));
        }
        const std::size_t at = file.size();
        l.frameOffsets.push_back(at);
        Bytes c = chunk(vid.c_str(), l.frames[k]);
        file.insert(file.end(), c.begin(), c.end());
        entries.push_back({fourcc(vid.c_str()), l.frames[k].empty() ? 0u : 0x10u, static_cast<std::uint32_t>(at),
                           static_cast<std::uint32_t>(l.frames[k].size())});
        if (l.recLists)
            poke32(file, recAt + 4, static_cast<std::uint32_t>(file.size() - recAt - 8));
    }
    poke32(file, l.moviOffset + 4, static_cast<std::uint32_t>(file.size() - l.moviOffset - 8));

    l.idx1Offset = 0;
    if (l.index != AviLayout::Index::None) {
        Bytes idx;
        for (const Entry& e : entries) {
            put32(idx, e.id);
            put32(idx, e.flags);
            put32(idx,
                  l.index == AviLayout::Index::Relative ? e.offset - static_cast<std::uint32_t>(moviFourcc) : e.offset);
            put32(idx, e.size);
        }
        l.idx1Offset = file.size();
        Bytes c = chunk("idx1", idx);
        file.insert(file.end(), c.begin(), c.end());
    }
    poke32(file, 4, static_cast<std::uint32_t>(file.size() - 8));
    return file;
}

// A 24-bit layout of n frames with the frames listed in `dropped` stored without data.
inline AviLayout layout24(int n, std::vector<int> dropped = {}, int width = 8, int height = 4)
{
    AviLayout l;
    l.width = width;
    l.height = height;
    for (int k = 0; k < n; ++k) {
        bool drop = false;
        for (int d : dropped)
            drop |= d == k;
        l.frames.push_back(drop ? Bytes{} : patternFrame(l, k));
    }
    return l;
}

} // namespace kestro::test
