// AviWriter against an independent reader: ffprobe/ffmpeg must find every frame with the
// exact pixels written, and the RIFF structure the OpenDML indexes rely on is checked
// byte by byte.
#include "avi_writer.h"
#include "dib.h"
#include "riff.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ostream>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace kestro::avi {
namespace {

using test::ScratchDir;
using Bytes = std::vector<std::uint8_t>;

constexpr FOURCC kI420 = mmioFOURCC('I', '4', '2', '0');

// A picture format and the frames the tests write in it. Frames are never random: each
// byte follows from the frame number and its place, so any misplaced byte shows.
struct Picture {
    const char* name;
    int width;
    int height;
    int bits;
    FOURCC compression;
    std::uint32_t clrUsed;
    const char* pixFmt; // what ffmpeg is asked to decode to
    // Test names in ctest and failure messages show the case, not its bytes.
    friend void PrintTo(const Picture& c, std::ostream* os) { *os << c.name; }
};

bool isPlanar(const Picture& p) { return p.compression == kI420; }

std::size_t rowBytes(const Picture& p) { return kestro::dib::stride(p.width, p.bits); }

std::size_t storedSize(const Picture& p)
{
    if (isPlanar(p)) {
        const std::size_t chroma = static_cast<std::size_t>((p.width + 1) / 2) * ((p.height + 1) / 2);
        return static_cast<std::size_t>(p.width) * p.height + 2 * chroma;
    }
    return rowBytes(p) * p.height;
}

Bytes formatBlock(const Picture& p)
{
    Bytes f(40);
    putLe32(&f[0], 40);
    putLe32(&f[4], static_cast<std::uint32_t>(p.width));
    putLe32(&f[8], static_cast<std::uint32_t>(p.height));
    putLe16(&f[12], 1);
    putLe16(&f[14], static_cast<std::uint16_t>(p.bits));
    putLe32(&f[16], p.compression);
    putLe32(&f[20], static_cast<std::uint32_t>(storedSize(p)));
    putLe32(&f[32], p.clrUsed);
    if (p.bits == 8) {
        for (int i = 0; i < 256; ++i) {
            const auto v = static_cast<std::uint8_t>(i);
            f.insert(f.end(), {v, v, v, 0});
        }
    }
    return f;
}

// Frame n's pixels: top row first, rows unpadded (planes for I420).
Bytes frameImage(const Picture& p, int n)
{
    if (isPlanar(p)) {
        Bytes out(storedSize(p));
        for (std::size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<std::uint8_t>(n * 37 + i * 11);
        return out;
    }
    const int channels = p.bits / 8;
    Bytes out(static_cast<std::size_t>(p.width) * p.height * channels);
    for (int y = 0; y < p.height; ++y)
        for (int x = 0; x < p.width; ++x)
            for (int k = 0; k < channels; ++k)
                out[(static_cast<std::size_t>(y) * p.width + x) * channels + k] =
                    static_cast<std::uint8_t>(n * 37 + x * 11 + y * 5 + k * 83);
    return out;
}

// Frame n as ffmpeg hands it back in the picture's pixFmt. Grey frames are asked for as
// bgr24: a grey colour table then maps each index to three equal bytes exactly, whereas
// ffmpeg's pal8-to-gray conversion goes through luma and rounds.
Bytes decodedFrame(const Picture& p, int n)
{
    Bytes image = frameImage(p, n);
    if (p.bits != 8)
        return image;
    Bytes bgr;
    bgr.reserve(image.size() * 3);
    for (std::uint8_t v : image)
        bgr.insert(bgr.end(), {v, v, v});
    return bgr;
}

// Frame n as stored: bottom row first, rows padded to 4 bytes with a filler that a
// reader using the wrong stride would show.
Bytes storedFrame(const Picture& p, int n)
{
    const Bytes top = frameImage(p, n);
    if (isPlanar(p))
        return top;
    const std::size_t packed = static_cast<std::size_t>(p.width) * p.bits / 8;
    Bytes out(storedSize(p), 0xEE);
    for (int y = 0; y < p.height; ++y)
        std::copy_n(top.begin() + static_cast<std::ptrdiff_t>(y * packed), packed,
                    out.begin() + static_cast<std::ptrdiff_t>((p.height - 1 - y) * rowBytes(p)));
    return out;
}

AVISTREAMINFOA videoInfo(const Picture& p)
{
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = p.compression == BI_RGB ? fcc::DIB_ : p.compression;
    info.dwScale = 1;
    info.dwRate = 25;
    info.rcFrame = {0, 0, p.width, p.height};
    return info;
}

struct Writer {
    std::unique_ptr<AviWriter> avi;
    int stream = -1;
};

// A writer with one video stream in the picture's format.
Writer openWriter(const std::string& path, const Picture& p)
{
    Writer w;
    EXPECT_EQ(AviWriter::create(path, w.avi), AVIERR_OK) << path;
    if (!w.avi)
        return w;
    EXPECT_EQ(w.avi->addStream(videoInfo(p), w.stream), AVIERR_OK);
    const Bytes format = formatBlock(p);
    EXPECT_EQ(w.avi->setFormat(w.stream, format.data(), format.size()), AVIERR_OK);
    return w;
}

HRESULT writeFrame(Writer& w, const Picture& p, int n)
{
    const Bytes frame = storedFrame(p, n);
    return w.avi->write(w.stream, n, frame.data(), static_cast<std::uint32_t>(frame.size()), true);
}

// A minimal RIFF walker, independent of the library's reader.
struct Chunk {
    FOURCC id;
    FOURCC listType;    // for RIFF and LIST
    std::size_t offset; // of the 8-byte header
    std::uint32_t size;
    std::size_t data() const { return offset + 8; }
    std::size_t end() const { return offset + 8 + size + (size & 1); }
};

std::vector<Chunk> children(const Bytes& f, std::size_t begin, std::size_t end)
{
    std::vector<Chunk> out;
    std::size_t at = begin;
    while (at + 8 <= end) {
        Chunk c{le32(&f[at]), 0, at, le32(&f[at + 4])};
        if (c.end() > end || ((c.id == fcc::RIFF || c.id == fcc::LIST) && c.size < 4)) {
            ADD_FAILURE() << fourccText(c.id) << " at " << at << " does not fit its parent";
            break;
        }
        if (c.id == fcc::RIFF || c.id == fcc::LIST)
            c.listType = le32(&f[at + 8]);
        out.push_back(c);
        at = c.end();
    }
    EXPECT_EQ(at, end) << "chunks overrun their parent";
    return out;
}

std::vector<Chunk> children(const Bytes& f, const Chunk& list)
{
    return children(f, list.data() + 4, list.end() - (list.size & 1));
}

Chunk find(const std::vector<Chunk>& chunks, FOURCC id, FOURCC listType = 0)
{
    for (const Chunk& c : chunks)
        if (c.id == id && c.listType == listType)
            return c;
    ADD_FAILURE() << "no chunk " << fourccText(id) << " " << fourccText(listType);
    return {};
}

// The pieces of a written file the structural checks look at.
struct Layout {
    std::vector<Chunk> riffs;
    Chunk avih, strh, indx, dmlh, idx1;
    std::vector<Chunk> movis; // one per RIFF
};

Layout parse(const Bytes& f)
{
    Layout l;
    l.riffs = children(f, 0, f.size());
    if (l.riffs.empty())
        return l;
    const auto top = children(f, l.riffs[0]);
    const auto hdrl = children(f, find(top, fcc::LIST, fcc::hdrl));
    l.avih = find(hdrl, fcc::avih);
    const auto strl = children(f, find(hdrl, fcc::LIST, fcc::strl));
    l.strh = find(strl, fcc::strh);
    l.indx = find(strl, fcc::indx);
    l.dmlh = find(children(f, find(hdrl, fcc::LIST, fcc::odml)), fcc::dmlh);
    l.idx1 = find(top, fcc::idx1);
    for (const Chunk& riff : l.riffs)
        l.movis.push_back(find(children(f, riff), fcc::LIST, fcc::movi));
    return l;
}

std::uint32_t avihTotalFrames(const Bytes& f, const Layout& l) { return le32(&f[l.avih.data() + 16]); }
std::uint32_t strhLength(const Bytes& f, const Layout& l) { return le32(&f[l.strh.data() + 32]); }
std::uint32_t dmlhTotalFrames(const Bytes& f, const Layout& l) { return le32(&f[l.dmlh.data()]); }

// Index offsets come from the file under test; a wrong one must fail, not read astray.
bool inFile(const Bytes& f, std::size_t offset, std::size_t n)
{
    if (offset <= f.size() && n <= f.size() - offset)
        return true;
    ADD_FAILURE() << "index points outside the file: " << offset;
    return false;
}

struct IndexEntry {
    FOURCC id;
    std::uint32_t flags;
    std::uint32_t size;
};

std::vector<IndexEntry> idx1Entries(const Bytes& f, const Layout& l)
{
    std::vector<IndexEntry> out;
    const std::size_t moviFourcc = l.movis[0].data();
    for (std::size_t e = l.idx1.data(); e + 16 <= l.idx1.data() + l.idx1.size; e += 16) {
        const std::size_t chunk = moviFourcc + le32(&f[e + 8]);
        if (!inFile(f, chunk, 8))
            break;
        EXPECT_EQ(le32(&f[chunk]), le32(&f[e])) << "idx1 entry does not point at its chunk";
        EXPECT_EQ(le32(&f[chunk + 4]), le32(&f[e + 12]));
        out.push_back({le32(&f[e]), le32(&f[e + 4]), le32(&f[e + 12])});
    }
    return out;
}

struct StdEntry {
    std::size_t data;   // absolute offset of the chunk data
    std::uint32_t size; // with the delta-frame bit
};

// Follows the super index to every standard index and returns their entries in order,
// checking the index headers on the way.
std::vector<StdEntry> odmlEntries(const Bytes& f, const Layout& l, std::uint32_t* durationSum = nullptr)
{
    std::vector<StdEntry> out;
    const std::size_t indx = l.indx.data();
    EXPECT_EQ(le16(&f[indx]), 4);
    EXPECT_EQ(f[indx + 3], kIndexOfIndexes);
    const std::uint32_t used = le32(&f[indx + 4]);
    EXPECT_EQ(l.indx.size, 24u + 256 * 16) << "256 super-index slots";
    std::uint32_t durations = 0;
    for (std::uint32_t i = 0; i < used; ++i) {
        const std::size_t e = indx + 24 + 16 * i;
        const std::size_t ix = le64(&f[e]);
        if (!inFile(f, ix, 32) || !inFile(f, ix + 32, 8 * std::size_t{le32(&f[ix + 12])}))
            break;
        EXPECT_EQ(le32(&f[ix]), mmioFOURCC('i', 'x', '0', '0'));
        EXPECT_EQ(le32(&f[ix + 4]) + 8, le32(&f[e + 8]));
        EXPECT_EQ(le16(&f[ix + 8]), 2);
        EXPECT_EQ(f[ix + 11], kIndexOfChunks);
        EXPECT_EQ(le32(&f[ix + 16]), le32(&f[indx + 8])) << "ix00 and indx name the same chunk id";
        const std::uint32_t n = le32(&f[ix + 12]);
        EXPECT_EQ(n, le32(&f[e + 12])) << "dwDuration counts the entries";
        durations += n;
        const std::uint64_t base = le64(&f[ix + 20]);
        for (std::uint32_t k = 0; k < n; ++k) {
            const StdEntry s{static_cast<std::size_t>(base + le32(&f[ix + 32 + 8 * k])), le32(&f[ix + 36 + 8 * k])};
            if (!inFile(f, s.data - 8, 8 + (s.size & ~kOdmlDeltaFrame)))
                break;
            EXPECT_EQ(le32(&f[s.data - 4]), s.size & ~kOdmlDeltaFrame) << "entry points past the chunk header";
            out.push_back(s);
        }
    }
    if (durationSum)
        *durationSum = durations;
    return out;
}

// ----------------------------------------------------------------------------------

class RoundTrip : public ::testing::TestWithParam<Picture> {};

TEST_P(RoundTrip, FfmpegDecodesEveryFrameExactly)
{
    const Picture& p = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("out.avi");
    constexpr int kFrames = 3;
    {
        Writer w = openWriter(path, p);
        ASSERT_TRUE(w.avi);
        for (int n = 0; n < kFrames; ++n)
            ASSERT_EQ(writeFrame(w, p, n), AVIERR_OK);
        EXPECT_EQ(w.avi->length(w.stream), kFrames);
        ASSERT_EQ(w.avi->finish(), AVIERR_OK);
    }

    EXPECT_EQ(test::probe(path, "nb_read_frames", true), std::to_string(kFrames));
    EXPECT_EQ(test::probe(path, "codec_name"), "rawvideo");
    EXPECT_EQ(test::probe(path, "width"), std::to_string(p.width));
    EXPECT_EQ(test::probe(path, "height"), std::to_string(p.height));
    for (int n = 0; n < kFrames; ++n)
        EXPECT_EQ(test::ffmpegFrame(path, n, p.pixFmt), decodedFrame(p, n)) << "frame " << n;

    const Bytes f = test::readFile(path);
    const Layout l = parse(f);
    const FOURCC expectedId = p.compression == BI_RGB ? mmioFOURCC('0', '0', 'd', 'b') : mmioFOURCC('0', '0', 'd', 'c');
    const auto entries = idx1Entries(f, l);
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kFrames));
    for (const IndexEntry& e : entries) {
        EXPECT_EQ(e.id, expectedId);
        EXPECT_EQ(e.flags, kIdx1KeyFrame);
        EXPECT_EQ(e.size, storedSize(p)) << "size fields hold the unpadded size";
    }
    EXPECT_EQ(l.movis[0].offset % 4096, 0u) << "movi is page aligned";
    EXPECT_EQ(le32(&f[l.avih.data() + 12]) & 0x10, 0x10u) << "AVIF_HASINDEX";
}

INSTANTIATE_TEST_SUITE_P(Formats, RoundTrip,
                         ::testing::Values(Picture{"Grey8RowPadded", 5, 3, 8, BI_RGB, 256, "bgr24"},
                                           Picture{"Grey8ClrUsedZero", 6, 2, 8, BI_RGB, 0, "bgr24"},
                                           Picture{"Bgr24RowPadded", 6, 4, 24, BI_RGB, 0, "bgr24"},
                                           // 3x3 I420 is 17 bytes: every chunk needs its pad byte.
                                           Picture{"I420OddChunks", 3, 3, 12, kI420, 0, "yuv420p"}),
                         [](const auto& info) { return std::string(info.param.name); });

const Picture kSmallRgb{"Bgr24", 64, 48, 24, BI_RGB, 0, "bgr24"};

TEST(Write, EmptyFileIsAValidAvi)
{
    ScratchDir dir;
    const std::string path = dir.file("empty.avi");
    Writer w = openWriter(path, kSmallRgb);
    ASSERT_TRUE(w.avi);
    ASSERT_EQ(w.avi->finish(), AVIERR_OK);

    // ffprobe says N/A rather than 0 when it read no frame; any complaint about the file
    // would show up in the output too.
    std::string out;
    const std::string command = "ffprobe -v error -count_frames -of csv=p=0 "
                                "-show_entries stream=codec_name,width,nb_read_frames " +
                                test::quote(path) + " 2>&1";
    EXPECT_EQ(test::run(command, &out), 0);
    EXPECT_EQ(out, "rawvideo,64,N/A\n");
    const Bytes f = test::readFile(path);
    const Layout l = parse(f);
    EXPECT_EQ(l.riffs.size(), 1u);
    EXPECT_EQ(l.idx1.size, 0u);
    EXPECT_EQ(le32(&f[l.indx.data() + 4]), 0u) << "no standard index for no samples";
    EXPECT_EQ(strhLength(f, l), 0u);
}

TEST(Write, OddChunkIsPaddedAndSizedUnpadded)
{
    ScratchDir dir;
    const std::string path = dir.file("odd.avi");
    const Picture p{"I420", 3, 3, 12, kI420, 0, "yuv420p"};
    Writer w = openWriter(path, p);
    ASSERT_TRUE(w.avi);
    const Bytes a(17, 0x11), b(4, 0x22);
    ASSERT_EQ(w.avi->write(w.stream, 0, a.data(), 17, true), AVIERR_OK);
    ASSERT_EQ(w.avi->write(w.stream, 1, b.data(), 4, true), AVIERR_OK);
    ASSERT_EQ(w.avi->finish(), AVIERR_OK);

    const Bytes f = test::readFile(path);
    const Layout l = parse(f);
    const auto chunks = children(f, l.movis[0]);
    ASSERT_GE(chunks.size(), 3u); // two samples and ix00
    EXPECT_EQ(chunks[0].size, 17u);
    EXPECT_EQ(f[chunks[0].data() + 17], 0) << "pad byte";
    EXPECT_EQ(chunks[1].offset, chunks[0].data() + 18);
    EXPECT_EQ(chunks[1].size, 4u);
    const auto entries = odmlEntries(f, l);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].size, 17u);
}

// Skipped positions become samples without data; they sit in both indexes and count
// in the stream length, and a position already passed is refused.
TEST(Write, GapsBecomeSamplesWithoutData)
{
    ScratchDir dir;
    const std::string path = dir.file("gaps.avi");
    Writer w = openWriter(path, kSmallRgb);
    ASSERT_TRUE(w.avi);
    const Bytes frame = storedFrame(kSmallRgb, 0);
    const auto size = static_cast<std::uint32_t>(frame.size());
    ASSERT_EQ(w.avi->write(w.stream, 0, frame.data(), size, true), AVIERR_OK);
    ASSERT_EQ(w.avi->write(w.stream, 3, frame.data(), size, true), AVIERR_OK);
    ASSERT_EQ(w.avi->write(w.stream, 4, frame.data(), size, true), AVIERR_OK);
    EXPECT_EQ(w.avi->length(w.stream), 5);
    EXPECT_EQ(w.avi->write(w.stream, 4, frame.data(), size, true), AVIERR_BADPARAM);
    EXPECT_EQ(w.avi->write(w.stream, 2, frame.data(), size, true), AVIERR_BADPARAM);
    EXPECT_EQ(w.avi->write(w.stream, -1, frame.data(), size, true), AVIERR_BADPARAM);
    EXPECT_EQ(w.avi->length(w.stream), 5);
    ASSERT_EQ(w.avi->finish(), AVIERR_OK);

    const Bytes f = test::readFile(path);
    const Layout l = parse(f);
    EXPECT_EQ(strhLength(f, l), 5u);
    EXPECT_EQ(dmlhTotalFrames(f, l), 5u);
    EXPECT_EQ(avihTotalFrames(f, l), 5u);
    const auto idx1 = idx1Entries(f, l);
    const auto odml = odmlEntries(f, l);
    ASSERT_EQ(idx1.size(), 5u);
    ASSERT_EQ(odml.size(), 5u);
    const std::uint32_t sizes[] = {size, 0, 0, size, size};
    for (std::size_t i = 0; i < 5; ++i) {
        const bool data = sizes[i] != 0;
        EXPECT_EQ(idx1[i].size, sizes[i]) << i;
        EXPECT_EQ(idx1[i].flags, data ? kIdx1KeyFrame : 0u) << i;
        EXPECT_EQ(odml[i].size, data ? sizes[i] : kOdmlDeltaFrame) << i;
    }
    // ffmpeg skips samples without data; the frames around the gap must still decode.
    EXPECT_EQ(test::ffmpegFrame(path, 1, "bgr24"), decodedFrame(kSmallRgb, 0));
}

// A small RIFF limit makes the frames span several AVIX RIFFs; every frame has to stay
// reachable through the OpenDML indexes, and the AVI 1.0 parts describe only the first
// RIFF. With tiny frames the indexes outweigh the data, so a limit that forgets them
// shows.
struct OdmlCase {
    const char* name;
    Picture picture;
    std::uint64_t limit;
    int frames;
    // Test names in ctest and failure messages show the case, not its bytes.
    friend void PrintTo(const OdmlCase& c, std::ostream* os) { *os << c.name; }
};

class OpenDml : public ::testing::TestWithParam<OdmlCase> {};

TEST_P(OpenDml, EveryFrameReachablePastTheRiffLimit)
{
    const Picture& p = GetParam().picture;
    const std::uint64_t kLimit = GetParam().limit;
    const int kFrames = GetParam().frames;
    ScratchDir dir;
    const std::string path = dir.file("odml.avi");
    {
        Writer w = openWriter(path, p);
        ASSERT_TRUE(w.avi);
        w.avi->setRiffLimit(kLimit);
        for (int n = 0; n < kFrames; ++n)
            ASSERT_EQ(writeFrame(w, p, n), AVIERR_OK);
        ASSERT_EQ(w.avi->finish(), AVIERR_OK);
    }

    EXPECT_EQ(test::probe(path, "nb_read_frames", true), std::to_string(kFrames));
    EXPECT_EQ(test::ffmpegFrame(path, kFrames - 1, p.pixFmt), decodedFrame(p, kFrames - 1));

    const Bytes f = test::readFile(path);
    const Layout l = parse(f);
    ASSERT_GE(l.riffs.size(), 4u);
    EXPECT_EQ(l.riffs[0].listType, fcc::AVI_);
    for (std::size_t i = 0; i < l.riffs.size(); ++i) {
        if (i > 0) {
            EXPECT_EQ(l.riffs[i].listType, fcc::AVIX) << i;
        }
        EXPECT_LE(l.riffs[i].size + 8u, kLimit) << i;
    }

    const auto idx1 = idx1Entries(f, l);
    EXPECT_EQ(avihTotalFrames(f, l), idx1.size()) << "avih counts the first RIFF only";
    EXPECT_LT(idx1.size(), static_cast<std::size_t>(kFrames));
    EXPECT_EQ(idx1.size(), children(f, l.movis[0]).size() - 1) << "idx1 lists the first movi's samples, not ix00";
    EXPECT_EQ(dmlhTotalFrames(f, l), static_cast<std::uint32_t>(kFrames));
    EXPECT_EQ(strhLength(f, l), static_cast<std::uint32_t>(kFrames));

    std::uint32_t durations = 0;
    const auto entries = odmlEntries(f, l, &durations);
    EXPECT_EQ(le32(&f[l.indx.data() + 4]), l.riffs.size()) << "one standard index per RIFF";
    EXPECT_EQ(durations, static_cast<std::uint32_t>(kFrames));
    ASSERT_EQ(entries.size(), static_cast<std::size_t>(kFrames));
    for (int n = 0; n < kFrames; ++n) {
        const Bytes expected = storedFrame(p, n);
        ASSERT_EQ(entries[n].size, expected.size()) << n;
        const auto at = f.begin() + static_cast<std::ptrdiff_t>(entries[n].data);
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), at)) << "frame " << n << " is not where indexed";
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, OpenDml,
                         ::testing::Values(OdmlCase{"Bgr24Frames", kSmallRgb, 64 * 1024, 40},
                                           OdmlCase{"TinyFrames", Picture{"Grey8", 4, 1, 8, BI_RGB, 256, "bgr24"},
                                                    16 * 1024, 3000}),
                         [](const auto& info) { return std::string(info.param.name); });

// Each RIFF takes one slot of the super index reserved in the header; once the slots
// are used up the writer must refuse rather than write frames no index can reach.
TEST(Write, RefusesTheRiffPastTheSuperIndexSlots)
{
    ScratchDir dir;
    const std::string path = dir.file("slots.avi");
    const Picture p{"Grey8", 4, 1, 8, BI_RGB, 256, "bgr24"};
    Writer w = openWriter(path, p);
    ASSERT_TRUE(w.avi);
    w.avi->setRiffLimit(1); // every RIFF holds exactly one sample
    for (int n = 0; n < 256; ++n)
        ASSERT_EQ(writeFrame(w, p, n), AVIERR_OK) << n;
    EXPECT_EQ(writeFrame(w, p, 256), AVIERR_FILEWRITE);
    EXPECT_EQ(writeFrame(w, p, 257), AVIERR_FILEWRITE);
    EXPECT_EQ(w.avi->finish(), AVIERR_FILEWRITE) << "the refused frames are not in the file";

    EXPECT_EQ(test::probe(path, "nb_read_frames", true), "256") << "what was written stays readable";
    const Bytes f = test::readFile(path);
    EXPECT_EQ(parse(f).riffs.size(), 256u);
}

TEST(Write, StreamsAndFormatsAreFixedByTheFirstSample)
{
    ScratchDir dir;
    const std::string path = dir.file("fixed.avi");
    Writer w = openWriter(path, kSmallRgb);
    ASSERT_TRUE(w.avi);
    const Picture second{"Grey8", 8, 2, 8, BI_RGB, 256, "bgr24"};
    int other = -1;
    ASSERT_EQ(w.avi->addStream(videoInfo(second), other), AVIERR_OK);
    ASSERT_EQ(writeFrame(w, kSmallRgb, 0), AVIERR_OK);

    const Bytes format = formatBlock(kSmallRgb);
    EXPECT_EQ(w.avi->setFormat(w.stream, format.data(), format.size()), AVIERR_UNSUPPORTED);
    int late = -1;
    EXPECT_EQ(w.avi->addStream(videoInfo(kSmallRgb), late), AVIERR_UNSUPPORTED);
    // A stream without samples may still get its format while it fits before movi.
    const Bytes huge(64 * 1024, 0);
    EXPECT_EQ(w.avi->setFormat(other, huge.data(), huge.size()), AVIERR_UNSUPPORTED);
    const Bytes secondFormat = formatBlock(second);
    EXPECT_EQ(w.avi->setFormat(other, secondFormat.data(), secondFormat.size()), AVIERR_OK);
    const Bytes frame = storedFrame(second, 0);
    EXPECT_EQ(w.avi->write(other, 0, frame.data(), static_cast<std::uint32_t>(frame.size()), true), AVIERR_OK);

    EXPECT_EQ(w.avi->write(7, 1, frame.data(), 1, true), AVIERR_BADPARAM);
    EXPECT_EQ(w.avi->write(other, 1, nullptr, 1, true), AVIERR_BADPARAM);
    ASSERT_EQ(w.avi->finish(), AVIERR_OK);

    std::string width;
    test::run("ffprobe -v error -select_streams v:1 -show_entries stream=width -of csv=p=0 " + test::quote(path),
              &width);
    EXPECT_EQ(width, "8\n");
    const Bytes f = test::readFile(path);
    const auto idx1 = idx1Entries(f, parse(f));
    ASSERT_EQ(idx1.size(), 2u);
    EXPECT_EQ(idx1[1].id, mmioFOURCC('0', '1', 'd', 'b'));
}

TEST(Write, FinishIsFinal)
{
    ScratchDir dir;
    const std::string path = dir.file("final.avi");
    Writer w = openWriter(path, kSmallRgb);
    ASSERT_TRUE(w.avi);
    ASSERT_EQ(writeFrame(w, kSmallRgb, 0), AVIERR_OK);
    ASSERT_EQ(w.avi->finish(), AVIERR_OK);
    const auto size = std::filesystem::file_size(path);
    EXPECT_EQ(w.avi->finish(), AVIERR_OK);
    EXPECT_EQ(writeFrame(w, kSmallRgb, 1), AVIERR_READONLY);
    const Bytes format = formatBlock(kSmallRgb);
    EXPECT_EQ(w.avi->setFormat(w.stream, format.data(), format.size()), AVIERR_READONLY);
    w.avi.reset();
    EXPECT_EQ(std::filesystem::file_size(path), size);
    EXPECT_EQ(test::probe(path, "nb_read_frames", true), "1");
}

TEST(Write, DestructorCompletesTheFile)
{
    ScratchDir dir;
    const std::string path = dir.file("dtor.avi");
    {
        Writer w = openWriter(path, kSmallRgb);
        ASSERT_TRUE(w.avi);
        for (int n = 0; n < 2; ++n)
            ASSERT_EQ(writeFrame(w, kSmallRgb, n), AVIERR_OK);
    }
    EXPECT_EQ(test::probe(path, "nb_read_frames", true), "2");
    EXPECT_EQ(test::ffmpegFrame(path, 1, "bgr24"), decodedFrame(kSmallRgb, 1));
}

TEST(WriteError, MissingFolderFailsToCreate)
{
    ScratchDir dir;
    std::unique_ptr<AviWriter> avi;
    EXPECT_EQ(AviWriter::create(dir.file("no-such-folder/out.avi"), avi), AVIERR_FILEOPEN);
    EXPECT_FALSE(avi);
}

// /dev/full opens like a file and fails every write with ENOSPC.
struct DiskFullCase {
    const char* name;
    int frames;
    Picture picture;
    bool writeSeesIt; // the frame is larger than the write buffer, so write() itself fails
    // Test names in ctest and failure messages show the case, not its bytes.
    friend void PrintTo(const DiskFullCase& c, std::ostream* os) { *os << c.name; }
};

class DiskFull : public ::testing::TestWithParam<DiskFullCase> {};

TEST_P(DiskFull, IsNeverReportedAsSuccess)
{
    if (!std::filesystem::exists("/dev/full"))
        GTEST_SKIP() << "no /dev/full";
    const DiskFullCase& c = GetParam();
    Writer w = openWriter("/dev/full", c.picture);
    ASSERT_TRUE(w.avi);
    for (int n = 0; n < c.frames; ++n) {
        const HRESULT hr = writeFrame(w, c.picture, n);
        if (c.writeSeesIt)
            EXPECT_EQ(hr, AVIERR_FILEWRITE) << n;
        else
            EXPECT_TRUE(hr == AVIERR_OK || hr == AVIERR_FILEWRITE) << n;
    }
    EXPECT_EQ(w.avi->finish(), AVIERR_FILEWRITE);
    EXPECT_EQ(w.avi->finish(), AVIERR_FILEWRITE);
    EXPECT_EQ(writeFrame(w, c.picture, c.frames), AVIERR_READONLY);
}

INSTANTIATE_TEST_SUITE_P(Cases, DiskFull,
                         ::testing::Values(DiskFullCase{"NoFrames", 0, kSmallRgb, false},
                                           DiskFullCase{"SmallFramesFailAtFinish", 3, kSmallRgb, false},
                                           DiskFullCase{"LargeFramesFailAtWrite", 3,
                                                        Picture{"Bgr24", 1024, 768, 24, BI_RGB, 0, "bgr24"}, true}),
                         [](const auto& info) { return std::string(info.param.name); });

// ----------------------------------------------------------------------------------
// The real default limit: over 1 GiB of full-HD frames. Slow (disk bound): built only
// into the test program that ctest labels "slow".
#ifdef KESTRO_SLOW_TESTS

Bytes readAt(const std::string& path, std::uint64_t offset, std::size_t n)
{
    std::ifstream in(path, std::ios::binary);
    in.seekg(static_cast<std::streamoff>(offset));
    Bytes out(n);
    in.read(reinterpret_cast<char*>(out.data()), static_cast<std::streamsize>(n));
    out.resize(static_cast<std::size_t>(in.gcount()));
    return out;
}

TEST(WriteLarge, PastOneGibibyteWithTheDefaultLimit)
{
    ScratchDir dir;
    // A machine without the room gets a skip, not a full disk for everything else.
    if (std::filesystem::space(dir.path()).available < (3ull << 30))
        GTEST_SKIP() << "less than 3 GiB free in " << dir.path();
    const std::string path = dir.file("large.avi");
    const Picture p{"Bgr24", 1920, 1080, 24, BI_RGB, 0, "bgr24"};
    constexpr int kFrames = 190; // 190 x 6,220,800 bytes = 1.1 GiB

    // One base image; each frame stamps its number into the bottom stored row so that
    // frames differ without per-frame pattern work.
    Bytes frame = storedFrame(p, 0);
    auto stamp = [&](Bytes& image, int n) {
        for (std::size_t x = 0; x < rowBytes(p); ++x)
            image[x] = static_cast<std::uint8_t>(n + x);
    };
    {
        Writer w = openWriter(path, p);
        ASSERT_TRUE(w.avi);
        for (int n = 0; n < kFrames; ++n) {
            stamp(frame, n);
            ASSERT_EQ(w.avi->write(w.stream, n, frame.data(), static_cast<std::uint32_t>(frame.size()), true),
                      AVIERR_OK)
                << n;
        }
        ASSERT_EQ(w.avi->finish(), AVIERR_OK);
    }
    const auto fileSize = std::filesystem::file_size(path);
    EXPECT_GT(fileSize, 1ull << 30);

    const Bytes first = readAt(path, 0, 12);
    ASSERT_EQ(first.size(), 12u);
    const std::uint64_t firstEnd = 8ull + le32(&first[4]);
    EXPECT_LE(firstEnd, 1ull << 30);
    const Bytes second = readAt(path, firstEnd, 12);
    ASSERT_EQ(second.size(), 12u);
    EXPECT_EQ(le32(&second[0]), fcc::RIFF);
    EXPECT_EQ(le32(&second[8]), fcc::AVIX);
    EXPECT_EQ(firstEnd + 8 + le32(&second[4]), fileSize) << "two RIFFs fill the file";

    EXPECT_EQ(test::probe(path, "nb_read_frames", true), std::to_string(kFrames));
    // Expected last frame, top row first: the stamped bottom row comes last.
    const std::size_t row = rowBytes(p);
    Bytes expected(frame.size());
    for (int y = 0; y < p.height; ++y)
        std::copy_n(frame.begin() + static_cast<std::ptrdiff_t>((p.height - 1 - y) * row), row,
                    expected.begin() + static_cast<std::ptrdiff_t>(y * row));
    EXPECT_TRUE(test::ffmpegFrame(path, kFrames - 1, "bgr24") == expected);
}

#endif // KESTRO_SLOW_TESTS

} // namespace
} // namespace kestro::avi
