// Reading through the public services: lengths, sample searches and stored bytes of
// files built byte by byte, of files ffmpeg writes, and of OpenDML files past 4 GiB.
#include "avi_builder.h"
#include "avi_handles.h"
#include "avifile.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <iterator>
#include <ostream>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace kestro::test;

// An opened file and its first video stream, released in the test's scope.
struct Opened {
    kestro::avi::Session session;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    HRESULT openResult = -1;
    HRESULT streamResult = -1;
    explicit Opened(const std::string& path, DWORD type = streamtypeVIDEO)
    {
        openResult = AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr);
        if (openResult == AVIERR_OK)
            streamResult = AVIFileGetStream(file.get(), stream.out(), type, 0);
    }
    Bytes read(LONG pos, HRESULT* hr = nullptr) const
    {
        LONG size = -1;
        HRESULT r = AVIStreamRead(stream.get(), pos, 1, nullptr, 0, &size, nullptr);
        Bytes b(static_cast<std::size_t>(std::max(size, 0)) + 3, 0xEE);
        LONG bytes = -1, samples = -1;
        if (r == AVIERR_OK)
            r = AVIStreamRead(stream.get(), pos, 1, b.data(), static_cast<LONG>(b.size()), &bytes, &samples);
        if (hr)
            *hr = r;
        EXPECT_TRUE(r != AVIERR_OK || (bytes == size && samples == 1));
        b.resize(static_cast<std::size_t>(std::max(size, 0)));
        return b;
    }
};

std::string saveBuilt(const ScratchDir& dir, AviLayout& layout, const std::string& name = "built.avi")
{
    const std::string path = dir.file(name);
    writeFile(path, build(layout));
    return path;
}

// Expected search results by walking the frames.
LONG walk(const AviLayout& l, LONG pos, bool forward)
{
    for (; pos >= 0 && pos < static_cast<LONG>(l.frames.size()); pos += forward ? 1 : -1)
        if (!l.frames[static_cast<std::size_t>(pos)].empty())
            return pos;
    return -1;
}

void expectFramesMatch(const Opened& o, const AviLayout& l)
{
    ASSERT_EQ(o.openResult, AVIERR_OK);
    ASSERT_EQ(o.streamResult, AVIERR_OK);
    const auto n = static_cast<LONG>(l.frames.size());
    EXPECT_EQ(AVIStreamStart(o.stream.get()), 0);
    ASSERT_EQ(AVIStreamLength(o.stream.get()), n);
    for (LONG i = 0; i < n; ++i) {
        EXPECT_EQ(o.read(i), l.frames[static_cast<std::size_t>(i)]) << "frame " << i;
        EXPECT_EQ(AVIStreamFindSample(o.stream.get(), i, FIND_ANY | FIND_PREV), walk(l, i, false)) << "prev " << i;
        EXPECT_EQ(AVIStreamFindSample(o.stream.get(), i, FIND_ANY | FIND_NEXT), walk(l, i, true)) << "next " << i;
    }
}

TEST(Read, DroppedFramesCountAndAreSkippedBySearches)
{
    ScratchDir dir;
    AviLayout l = layout24(10, {0, 3, 4, 9});
    const std::string path = saveBuilt(dir, l);
    Opened o(path);
    expectFramesMatch(o, l);
    // Past either end: searching back from beyond the end starts at the last sample.
    EXPECT_EQ(AVIStreamFindSample(o.stream.get(), 50, FIND_ANY | FIND_PREV), 8);
    EXPECT_EQ(AVIStreamFindSample(o.stream.get(), 10, FIND_ANY | FIND_NEXT), -1);
    EXPECT_EQ(AVIStreamFindSample(o.stream.get(), -1, FIND_ANY | FIND_PREV), -1);
    EXPECT_EQ(AVIStreamFindSample(o.stream.get(), -5, FIND_ANY | FIND_NEXT), 1);

    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(o.stream.get(), &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.fccType, streamtypeVIDEO);
    EXPECT_EQ(info.dwLength, 10u);
    EXPECT_EQ(info.rcFrame.right, 8);
    EXPECT_EQ(info.rcFrame.bottom, 4);
    EXPECT_EQ(info.dwSuggestedBufferSize, 96u);
}

TEST(Read, BufferRules)
{
    ScratchDir dir;
    AviLayout l = layout24(3, {1});
    Opened o(saveBuilt(dir, l));
    ASSERT_EQ(o.streamResult, AVIERR_OK);
    Bytes small(95);
    LONG bytes = 0;
    EXPECT_EQ(AVIStreamRead(o.stream.get(), 0, 1, small.data(), 95, &bytes, nullptr), AVIERR_BUFFERTOOSMALL);
    EXPECT_EQ(AVIStreamRead(o.stream.get(), 3, 1, small.data(), 95, &bytes, nullptr), AVIERR_BADPARAM);
    // A frame without data reads as zero bytes, even into no buffer at all.
    LONG samples = 0;
    EXPECT_EQ(AVIStreamRead(o.stream.get(), 1, 1, small.data(), 0, &bytes, &samples), AVIERR_OK);
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(samples, 1);
}

// A part of a sample: rows from an offset, each to its own place (upside down with a negative
// stride), the last one short when the sample ends first; nothing outside the sample or the stream.
TEST(Read, PartOfASampleInRows)
{
    ScratchDir dir;
    AviLayout l = layout24(3, {1}); // 96 bytes a frame
    Opened o(saveBuilt(dir, l));
    ASSERT_EQ(o.streamResult, AVIERR_OK);
    const Bytes& f = l.frames[2];
    struct Case {
        const char* name;
        LONG offset, row, rows, stride;
        LONG expectBytes;
    };
    const Case cases[] = {
        {"one block", 10, 40, 1, 40, 40},       {"rows upside down", 0, 8, 12, -8, 96},
        {"rows spread out", 16, 8, 5, 11, 40},  {"past the end of the sample", 80, 8, 4, 8, 16},
        {"from past the end", 200, 8, 2, 8, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes out(400, 0xEE);
        std::uint8_t* first = out.data() + (c.stride < 0 ? 200 : 0);
        LONG bytes = -1;
        ASSERT_EQ(AVIStreamReadPart(o.stream.get(), 2, c.offset, c.row, c.rows, first, c.stride, &bytes), AVIERR_OK);
        EXPECT_EQ(bytes, c.expectBytes);
        Bytes expected(400, 0xEE);
        for (LONG k = 0; k * c.row < c.expectBytes; ++k)
            for (LONG b = 0; b < c.row && k * c.row + b < c.expectBytes; ++b)
                expected[static_cast<std::size_t>((c.stride < 0 ? 200 : 0) + k * c.stride + b)] =
                    f[static_cast<std::size_t>(c.offset + k * c.row + b)];
        EXPECT_EQ(out, expected);
    }
    Bytes out(96);
    LONG bytes = -1;
    EXPECT_EQ(AVIStreamReadPart(o.stream.get(), 1, 0, 96, 1, out.data(), 96, &bytes), AVIERR_OK) << "a dropped frame";
    EXPECT_EQ(bytes, 0);
    EXPECT_EQ(AVIStreamReadPart(o.stream.get(), 3, 0, 96, 1, out.data(), 96, &bytes), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamReadPart(o.stream.get(), 0, -1, 96, 1, out.data(), 96, &bytes), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamReadPart(o.stream.get(), 0, 0, 96, 1, nullptr, 96, &bytes), AVIERR_BADPARAM);
    EXPECT_EQ(AVIStreamReadPart(nullptr, 0, 0, 96, 1, out.data(), 96, &bytes), AVIERR_BADHANDLE);
}

// The frame rectangle is served as the header has it, even empty; the picture's size
// comes from the format, and frames decode all the same.
TEST(Read, EmptyFrameRectangleIsServedAsStored)
{
    ScratchDir dir;
    AviLayout l = layout24(2);
    Bytes file = build(l);
    for (std::size_t k = 0; k < 4; ++k)
        file[l.strhOffset + 8 + 48 + 2 * k] = file[l.strhOffset + 8 + 49 + 2 * k] = 0;
    const std::string path = dir.file("norect.avi");
    writeFile(path, file);
    Opened o(path);
    ASSERT_EQ(o.streamResult, AVIERR_OK);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(o.stream.get(), &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.rcFrame.right - info.rcFrame.left, 0);
    EXPECT_EQ(info.rcFrame.bottom - info.rcFrame.top, 0);
    const kestro::avi::GetFrameHandle gf(AVIStreamGetFrameOpen(o.stream.get(), nullptr));
    ASSERT_TRUE(gf);
    const auto* bih = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(gf.get(), 1));
    ASSERT_NE(bih, nullptr);
    EXPECT_EQ(bih->biWidth, 8);
    EXPECT_EQ(bih->biHeight, 4);
}

struct LayoutCase {
    const char* name;
    void (*shape)(AviLayout&);
    // Test names in ctest and failure messages show the case, not its bytes.
    friend void PrintTo(const LayoutCase& c, std::ostream* os) { *os << c.name; }
};

class ReadLayouts : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(ReadLayouts, ServeTheSameFrames)
{
    ScratchDir dir;
    AviLayout l = layout24(6, {2});
    l.width = 5; // rows of 15 bytes padded to 16
    for (std::size_t k = 0; k < l.frames.size(); ++k)
        if (!l.frames[k].empty())
            l.frames[k] = patternFrame(l, static_cast<int>(k));
    GetParam().shape(l);
    Opened o(saveBuilt(dir, l));
    expectFramesMatch(o, l);
}

INSTANTIATE_TEST_SUITE_P(
    Read, ReadLayouts,
    ::testing::Values(LayoutCase{"Idx1Relative", [](AviLayout&) {}},
                      LayoutCase{"Idx1Absolute", [](AviLayout& l) { l.index = AviLayout::Index::Absolute; }},
                      LayoutCase{"NoIndex", [](AviLayout& l) { l.index = AviLayout::Index::None; }},
                      LayoutCase{"RecLists", [](AviLayout& l) { l.recLists = true; }},
                      LayoutCase{"RecListsNoIndex",
                                 [](AviLayout& l) {
                                     l.recLists = true;
                                     l.index = AviLayout::Index::None;
                                 }},
                      LayoutCase{"JunkAndUnknownChunks", [](AviLayout& l) { l.junk = true; }},
                      LayoutCase{"AudioStreamFirst", [](AviLayout& l) { l.audioFirst = true; }},
                      LayoutCase{"AudioFirstNoIndex",
                                 [](AviLayout& l) {
                                     l.audioFirst = true;
                                     l.index = AviLayout::Index::None;
                                 }},
                      LayoutCase{"CompressedChunkIds", [](AviLayout& l) { l.chunkType = "dc"; }},
                      LayoutCase{"OddSizedChunks",
                                 [](AviLayout& l) {
                                     for (auto& f : l.frames)
                                         if (!f.empty())
                                             f.push_back(0x5A); // odd size: the pad byte follows
                                 }}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Read, AudioOnlyFileHasNoVideoStream)
{
    ScratchDir dir;
    AviLayout l = layout24(3);
    l.audioOnly = true;
    const std::string path = saveBuilt(dir, l);
    {
        Opened o(path);
        EXPECT_EQ(o.openResult, AVIERR_OK);
        EXPECT_NE(o.streamResult, AVIERR_OK);
        EXPECT_EQ(o.stream.get(), nullptr);
    }
    Opened audio(path, streamtypeAUDIO);
    EXPECT_EQ(audio.streamResult, AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(audio.stream.get()), 3);
    EXPECT_EQ(AVIStreamGetFrameOpen(audio.stream.get(), nullptr), nullptr);
}

TEST(Read, MissingFileAndBadHandles)
{
    ScratchDir dir;
    PAVIFILE file = reinterpret_cast<PAVIFILE>(1);
    EXPECT_EQ(AVIFileOpenA(&file, dir.file("absent.avi").c_str(), OF_READ, nullptr), AVIERR_FILEOPEN);
    EXPECT_EQ(file, nullptr);
    EXPECT_EQ(AVIFileOpenA(&file, dir.path().c_str(), OF_READ, nullptr), AVIERR_FILEOPEN); // a folder

    int notAHandle = 0;
    auto* fakeStream = reinterpret_cast<PAVISTREAM>(&notAHandle);
    EXPECT_EQ(AVIStreamLength(fakeStream), -1);
    EXPECT_EQ(AVIStreamRead(fakeStream, 0, 1, nullptr, 0, nullptr, nullptr), AVIERR_BADHANDLE);
    EXPECT_EQ(AVIStreamRelease(fakeStream), 0u);
    EXPECT_EQ(AVIStreamGetFrameOpen(nullptr, nullptr), nullptr);
    EXPECT_EQ(AVIStreamGetFrame(nullptr, 0), nullptr);

    // A handle of one kind passed as another is refused, not misused.
    AviLayout l = layout24(2);
    Opened o(saveBuilt(dir, l));
    ASSERT_EQ(o.streamResult, AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(reinterpret_cast<PAVISTREAM>(o.file.get())), -1);
}

TEST(Read, StreamOutlivesItsFileAndInnerInitPairs)
{
    ScratchDir dir;
    AviLayout l = layout24(4, {2});
    const std::string path = saveBuilt(dir, l);
    const kestro::avi::Session session;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    ASSERT_EQ(AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0), AVIERR_OK);
    // An export's own start/end pair nests inside and leaves the open file usable.
    AVIFileInit();
    AVIFileExit();
    // Released by hand, in the order under test: the file, then the stream, then its decoder.
    EXPECT_EQ(AVIFileRelease(file.detach()), 0u);
    kestro::avi::GetFrameHandle gf(AVIStreamGetFrameOpen(stream.get(), nullptr));
    ASSERT_TRUE(gf);
    EXPECT_EQ(AVIStreamRelease(stream.detach()), 0u);
    const auto* bih = static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(gf.get(), 3));
    ASSERT_NE(bih, nullptr);
    EXPECT_EQ(bih->biWidth, 8);
    EXPECT_EQ(bih->biBitCount, 24);
    EXPECT_EQ(0, std::memcmp(reinterpret_cast<const std::uint8_t*>(bih) + 40, l.frames[3].data(), 96));
    EXPECT_EQ(AVIStreamGetFrame(gf.get(), 4), nullptr);
    EXPECT_EQ(AVIStreamGetFrameClose(gf.detach()), AVIERR_OK);
}

// The holders close what they hold when they go, when they are given a new handle, and when
// another takes their handle over; a held handle that leaked would keep its file open.
TEST(Read, HoldersCloseWhatTheyHold)
{
    ScratchDir dir;
    AviLayout l = layout24(3);
    const std::string path = saveBuilt(dir, l);
    auto openFiles = [] {
        return std::distance(std::filesystem::directory_iterator("/proc/self/fd"),
                             std::filesystem::directory_iterator{});
    };
    const auto before = openFiles();
    {
        const kestro::avi::Session session;
        kestro::avi::FileHandle file;
        ASSERT_EQ(AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr), AVIERR_OK);
        const auto one = openFiles();
        ASSERT_GT(one, before) << "an open capture holds a descriptor";
        ASSERT_EQ(AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr), AVIERR_OK);
        EXPECT_EQ(openFiles(), one) << "the first file was not closed when the holder took a second";

        kestro::avi::FileHandle taker = std::move(file);
        EXPECT_FALSE(file);
        kestro::avi::StreamHandle stream;
        ASSERT_EQ(AVIFileGetStream(taker.get(), stream.out(), streamtypeVIDEO, 0), AVIERR_OK);
        kestro::avi::GetFrameHandle frames(AVIStreamGetFrameOpen(stream.get(), nullptr));
        ASSERT_NE(AVIStreamGetFrame(frames.get(), 2), nullptr);
        taker = kestro::avi::FileHandle{};
        EXPECT_EQ(openFiles(), one) << "the stream keeps its file open";
    }
    EXPECT_EQ(openFiles(), before);
}

// A capture whose recorder crashed: sizes never patched, no index, last frame cut short.
TEST(Read, CrashedRecorderStillOpens)
{
    ScratchDir dir;
    AviLayout l = layout24(5);
    l.index = AviLayout::Index::None;
    Bytes file = build(l);
    poke32(file, 4, 0);                      // RIFF size never written
    poke32(file, l.moviOffset + 4, 0);       // movi size never written
    file.resize(l.frameOffsets[4] + 8 + 50); // the last frame half written
    const std::string path = dir.file("crash.avi");
    writeFile(path, file);
    Opened o(path);
    ASSERT_EQ(o.streamResult, AVIERR_OK);
    ASSERT_EQ(AVIStreamLength(o.stream.get()), 4);
    for (LONG i = 0; i < 4; ++i)
        EXPECT_EQ(o.read(i), l.frames[static_cast<std::size_t>(i)]);
}

// Frames that lie after the last entry of an intact-looking index are still found.
TEST(Read, FramesPastTheIndexAreFound)
{
    ScratchDir dir;
    AviLayout l = layout24(6, {1});
    Bytes file = build(l);
    // Keep the idx1 entries of the first three frames only, as a recorder that died
    // while rewriting its index would leave them.
    poke32(file, l.idx1Offset + 4, 3 * 16);
    const std::string path = dir.file("short-index.avi");
    writeFile(path, file);
    Opened o(path);
    expectFramesMatch(o, l);
}

// ffmpeg writes OpenDML super indexes as well as idx1; both must agree with its count.
TEST(Read, FilesWrittenByFfmpeg)
{
    if (!haveTool("ffmpeg"))
        GTEST_SKIP() << "ffmpeg not installed";
    ScratchDir dir;
    const std::string path = dir.file("ff.avi");
    ASSERT_EQ(run("ffmpeg -v error -f lavfi -i testsrc=size=64x48:rate=10 -frames:v 13 -c:v rawvideo "
                  "-pix_fmt bgr24 -y " +
                  quote(path)),
              0);
    Opened o(path);
    ASSERT_EQ(o.streamResult, AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(o.stream.get()), 13);
    AVISTREAMINFOA info{};
    ASSERT_EQ(AVIStreamInfoA(o.stream.get(), &info, sizeof info), AVIERR_OK);
    EXPECT_EQ(info.rcFrame.right - info.rcFrame.left, 64);
    EXPECT_EQ(info.rcFrame.bottom - info.rcFrame.top, 48);
    EXPECT_EQ(info.dwRate / std::max<DWORD>(info.dwScale, 1), 10u);
    // ffmpeg stores raw RGB top-down (a negative height), so the stored sample is its
    // raw frame byte for byte.
    EXPECT_EQ(o.read(7), ffmpegFrame(path, 7, "bgr24"));
}

// An OpenDML capture past 4 GiB, laid out sparsely: holes inside JUNK chunks push the
// later RIFFs beyond 32-bit offsets without writing gigabytes.
class Sparse {
public:
    explicit Sparse(const std::string& path) : m_fd(::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644)) {}
    ~Sparse() { ::close(m_fd); }
    bool ok() const { return m_fd >= 0; }
    void put(std::uint64_t at, const Bytes& b)
    {
        ASSERT_EQ(::pwrite(m_fd, b.data(), b.size(), static_cast<off_t>(at)), static_cast<ssize_t>(b.size()));
    }
    void extend(std::uint64_t size) { ASSERT_EQ(::ftruncate(m_fd, static_cast<off_t>(size)), 0); }

private:
    int m_fd;
};

void buildSparseOpenDml(const std::string& path, bool withIndexes, std::vector<Bytes>& frames,
                        std::uint64_t& lastFrameOffset)
{
    Sparse f(path);
    ASSERT_TRUE(f.ok());
    const int w = 4, h = 2;
    AviLayout shape;
    shape.width = w;
    shape.height = h;
    constexpr std::uint32_t kHole = 0xC0000000u; // 3 GiB of JUNK per RIFF
    const int perRiff = 2, riffs = 3;
    frames.clear();
    for (int k = 0; k < perRiff * riffs; ++k)
        frames.push_back(patternFrame(shape, k));

    // Headers: hdrl with an indx of `riffs` slots.
    const std::uint32_t indxSize = 24 + 16 * riffs;
    Bytes bih;
    put32(bih, 40);
    put32(bih, w);
    put32(bih, h);
    put16(bih, 1);
    put16(bih, 24);
    put32(bih, 0);
    put32(bih, 24);
    for (int i = 0; i < 4; ++i)
        put32(bih, 0);
    Bytes strl = chunk("strh", strhFor("vids", 0, perRiff * riffs, 24, w, h));
    Bytes strf = chunk("strf", bih);
    strl.insert(strl.end(), strf.begin(), strf.end());
    const std::size_t indxAtInStrl = strl.size();
    Bytes indx = chunk("indx", Bytes(indxSize, 0));
    strl.insert(strl.end(), indx.begin(), indx.end());
    Bytes avih(56, 0);
    poke32(avih, 16, perRiff);
    Bytes hdrlBody = chunk("avih", avih);
    const std::size_t strlAt = hdrlBody.size();
    Bytes strlList = list("strl", strl);
    hdrlBody.insert(hdrlBody.end(), strlList.begin(), strlList.end());
    Bytes hdrl = list("hdrl", hdrlBody);
    const std::uint64_t indxOffset = 12 + 12 + strlAt + 12 + indxAtInStrl;

    std::vector<std::uint64_t> ixOffsets;
    std::vector<std::uint32_t> ixSizes;
    std::uint64_t at = 0;
    for (int r = 0; r < riffs; ++r) {
        const std::uint64_t riffAt = at;
        Bytes head;
        put32(head, fourcc("RIFF"));
        put32(head, 0);
        put32(head, fourcc(r == 0 ? "AVI " : "AVIX"));
        if (r == 0)
            head.insert(head.end(), hdrl.begin(), hdrl.end());
        const std::uint64_t moviAt = riffAt + head.size();
        put32(head, fourcc("LIST"));
        put32(head, 0);
        put32(head, fourcc("movi"));
        f.put(riffAt, head);
        at = riffAt + head.size();
        // A JUNK chunk whose body is a hole in the file.
        Bytes junk;
        put32(junk, fourcc("JUNK"));
        put32(junk, kHole);
        f.put(at, junk);
        at += 8 + kHole;
        std::vector<std::uint64_t> dataAt;
        for (int k = 0; k < perRiff; ++k) {
            const Bytes& fr = frames[static_cast<std::size_t>(r * perRiff + k)];
            f.put(at, chunk("00db", fr));
            dataAt.push_back(at + 8);
            lastFrameOffset = at + 8;
            at += 8 + fr.size();
        }
        if (withIndexes) {
            Bytes ix;
            put16(ix, 2);
            ix.push_back(0);
            ix.push_back(1);
            put32(ix, perRiff);
            put32(ix, fourcc("00db"));
            const std::uint64_t base = riffAt;
            put32(ix, static_cast<std::uint32_t>(base));
            put32(ix, static_cast<std::uint32_t>(base >> 32));
            put32(ix, 0);
            for (std::uint64_t d : dataAt) {
                put32(ix, static_cast<std::uint32_t>(d - base));
                put32(ix, 24);
            }
            const Bytes c = chunk("ix00", ix);
            f.put(at, c);
            ixOffsets.push_back(at);
            ixSizes.push_back(static_cast<std::uint32_t>(c.size()));
            at += c.size();
        }
        Bytes size;
        put32(size, static_cast<std::uint32_t>(at - moviAt - 8));
        f.put(moviAt + 4, size);
        size.clear();
        put32(size, static_cast<std::uint32_t>(at - riffAt - 8));
        f.put(riffAt + 4, size);
    }
    if (withIndexes) {
        Bytes super;
        put16(super, 4);
        super.push_back(0);
        super.push_back(0);
        put32(super, riffs);
        put32(super, fourcc("00db"));
        put32(super, 0);
        put32(super, 0);
        put32(super, 0);
        for (int r = 0; r < riffs; ++r) {
            put32(super, static_cast<std::uint32_t>(ixOffsets[static_cast<std::size_t>(r)]));
            put32(super, static_cast<std::uint32_t>(ixOffsets[static_cast<std::size_t>(r)] >> 32));
            put32(super, ixSizes[static_cast<std::size_t>(r)]);
            put32(super, perRiff);
        }
        f.put(indxOffset + 8, super);
    }
    f.extend(at);
}

TEST(ReadLarge, OpenDmlPastFourGiB)
{
    for (bool withIndexes : {true, false}) {
        SCOPED_TRACE(withIndexes ? "with indexes" : "without indexes");
        ScratchDir dir;
        const std::string path = dir.file("big.avi");
        std::vector<Bytes> frames;
        std::uint64_t lastFrameOffset = 0;
        buildSparseOpenDml(path, withIndexes, frames, lastFrameOffset);
        ASSERT_GT(lastFrameOffset, 0x200000000ull); // beyond 8 GiB
        Opened o(path);
        ASSERT_EQ(o.streamResult, AVIERR_OK);
        // avih counts only the first RIFF; the stream has every frame.
        ASSERT_EQ(AVIStreamLength(o.stream.get()), static_cast<LONG>(frames.size()));
        for (LONG i = 0; i < static_cast<LONG>(frames.size()); ++i)
            EXPECT_EQ(o.read(i), frames[static_cast<std::size_t>(i)]) << "frame " << i;
    }
}

} // namespace
