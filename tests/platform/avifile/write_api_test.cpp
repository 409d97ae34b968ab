// Writing through the public services, in the order Kestro's exporters call them:
// create the file, create the stream, make the 'DIB ' stream, set the format, write key
// frames at positions 0..n-1, release the streams and the file. ffprobe and ffmpeg then
// check what landed on disk.
#include "avi_handles.h"
#include "avifile.h"
#include "dib.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <ostream>

#include <cerrno>
#include <cstring>
#include <vector>

namespace {

using namespace kestro::test;

struct Bitmap {
    std::vector<std::uint8_t> block; // header, colour table, pixels
    BITMAPINFOHEADER& header() { return *reinterpret_cast<BITMAPINFOHEADER*>(block.data()); }
    std::size_t formatSize = 0;
    std::uint8_t* pixels() { return block.data() + formatSize; }
};

// A frame bitmap as Kestro builds them: 8-bit ones carry the grey table.
Bitmap makeBitmap(int w, int h, int bits, DWORD clrUsed, int frame)
{
    Bitmap b;
    BITMAPINFOHEADER bih = kestro::dib::header(w, h, bits);
    bih.biClrUsed = clrUsed;
    const std::size_t row = kestro::dib::stride(bih);
    const std::size_t table = bits == 8 ? kestro::dib::kGreyTableBytes : 0;
    b.formatSize = sizeof bih + table;
    b.block.assign(b.formatSize + bih.biSizeImage, 0);
    b.header() = bih;
    if (table)
        kestro::dib::fillGreyTable(b.block.data() + sizeof bih);
    for (std::size_t y = 0; y < static_cast<std::size_t>(h); ++y)
        for (std::size_t x = 0; x < static_cast<std::size_t>(w) * static_cast<std::size_t>(bits) / 8; ++x)
            b.pixels()[y * row + x] = static_cast<std::uint8_t>(x * 13 + y * 29 + static_cast<std::size_t>(frame) * 7);
    return b;
}

// The handles an export holds, released in the exporters' order whatever happens: the plain
// stream, the compressed one, then the file.
struct Export {
    kestro::avi::Session session;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle compressed;
    kestro::avi::StreamHandle plain;
    HRESULT begin(const std::string& path, Bitmap& first, DWORD rate)
    {
        HRESULT hr = AVIFileOpenA(file.out(), path.c_str(), OF_CREATE | OF_WRITE, nullptr);
        if (hr != AVIERR_OK)
            return hr;
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = rate;
        info.dwSuggestedBufferSize = first.header().biSizeImage;
        info.rcFrame = {0, 0, first.header().biWidth, first.header().biHeight};
        if ((hr = AVIFileCreateStreamA(file.get(), plain.out(), &info)) != AVIERR_OK)
            return hr;
        AVICOMPRESSOPTIONS opts{};
        opts.fccHandler = mmioFOURCC('D', 'I', 'B', ' ');
        opts.dwFlags = AVICOMPRESSF_VALID;
        if ((hr = AVIMakeCompressedStream(compressed.out(), plain.get(), &opts, nullptr)) != AVIERR_OK)
            return hr;
        return AVIStreamSetFormat(compressed.get(), 0, first.block.data(), static_cast<LONG>(first.formatSize));
    }
    HRESULT frame(LONG pos, Bitmap& b)
    {
        return AVIStreamWrite(compressed.get(), pos, 1, b.pixels(), static_cast<LONG>(b.header().biSizeImage),
                              AVIIF_KEYFRAME, nullptr, nullptr);
    }
};

struct Shape {
    const char* name;
    int width, height, bits;
    DWORD clrUsed;
    // Test names in ctest and failure messages show the case, not its bytes.
    friend void PrintTo(const Shape& c, std::ostream* os) { *os << c.name; }
};

class WriteApi : public ::testing::TestWithParam<Shape> {};

TEST_P(WriteApi, FfmpegReadsExactlyWhatWasWritten)
{
    if (!haveTool("ffprobe"))
        GTEST_SKIP() << "ffmpeg not installed";
    const Shape& s = GetParam();
    ScratchDir dir;
    const std::string path = dir.file("out.avi");
    writeFile(path, std::vector<std::uint8_t>(100000, 0x55)); // an existing file is replaced
    constexpr int kFrames = 4;
    std::vector<Bitmap> frames;
    for (int k = 0; k < kFrames; ++k)
        frames.push_back(makeBitmap(s.width, s.height, s.bits, s.clrUsed, k));
    {
        Export e;
        ASSERT_EQ(e.begin(path, frames[0], 5), AVIERR_OK);
        for (int k = 0; k < kFrames; ++k)
            ASSERT_EQ(e.frame(k, frames[static_cast<std::size_t>(k)]), AVIERR_OK);
        ASSERT_EQ(AVIFileCommit(e.file.get()), AVIERR_OK);
    }
    EXPECT_EQ(probe(path, "nb_read_frames", true), std::to_string(kFrames));
    EXPECT_EQ(probe(path, "codec_name"), "rawvideo");
    EXPECT_EQ(probe(path, "width"), std::to_string(s.width));
    EXPECT_EQ(probe(path, "height"), std::to_string(s.height));
    EXPECT_EQ(probe(path, "r_frame_rate"), "5/1");
    // ffmpeg's rows are top-down and unpadded; ours bottom-up and padded to 4. An 8-bit
    // frame is looked up in its grey table, so each of ffmpeg's BGR bytes is our index.
    const std::size_t bytesPerPixel = static_cast<std::size_t>(s.bits) / 8;
    const std::size_t row = kestro::dib::stride(s.width, s.bits);
    const std::size_t w = static_cast<std::size_t>(s.width);
    for (int k = 0; k < kFrames; ++k) {
        const auto theirs = ffmpegFrame(path, k, "bgr24");
        ASSERT_EQ(theirs.size(), w * 3 * static_cast<std::size_t>(s.height)) << "frame " << k;
        std::size_t mismatches = 0;
        for (std::size_t y = 0; y < static_cast<std::size_t>(s.height); ++y) {
            const std::uint8_t* ours =
                frames[static_cast<std::size_t>(k)].pixels() + (static_cast<std::size_t>(s.height) - 1 - y) * row;
            for (std::size_t x = 0; x < w; ++x)
                for (std::size_t c = 0; c < 3; ++c)
                    mismatches += theirs[(y * w + x) * 3 + c] != ours[x * bytesPerPixel + (bytesPerPixel == 1 ? 0 : c)];
        }
        EXPECT_EQ(mismatches, 0u) << "frame " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Write, WriteApi,
                         ::testing::Values(Shape{"Grey8TableCounted", 10, 6, 8, 256},
                                           Shape{"Grey8TableImplied", 12, 5, 8, 0},
                                           Shape{"Colour24PaddedRows", 6, 4, 24, 0}, Shape{"Colour24", 64, 48, 24, 0}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(WriteApi, EmptyExportIsAValidFileOfNoFrames)
{
    if (!haveTool("ffprobe"))
        GTEST_SKIP() << "ffmpeg not installed";
    ScratchDir dir;
    const std::string path = dir.file("empty.avi");
    {
        Export e;
        Bitmap b = makeBitmap(8, 8, 24, 0, 0);
        ASSERT_EQ(e.begin(path, b, 5), AVIERR_OK);
    } // released without commit: the release completes the file
    // ffprobe opens it; with nothing to read it reports the count as N/A, as it does for
    // ffmpeg's own empty files.
    EXPECT_EQ(probe(path, "width"), "8");
    const std::string count = probe(path, "nb_read_frames", true);
    EXPECT_TRUE(count == "0" || count == "N/A") << count;
}

TEST(WriteApi, RefusalsAndErrorsComeBackAsCodes)
{
    ScratchDir dir;
    Bitmap b = makeBitmap(8, 8, 24, 0, 0);
    {
        Export e;
        EXPECT_EQ(e.begin(dir.file("no-such-folder/out.avi"), b, 5), AVIERR_FILEOPEN);
        EXPECT_EQ(e.file.get(), nullptr);
        // The reason goes with the code, so an exporter can say it in words.
        EXPECT_EQ(AVIFileLastSystemError(), ENOENT);
    }
    {
        // Only frames stored unchanged are offered.
        Export e;
        ASSERT_EQ(AVIFileOpenA(e.file.out(), dir.file("x.avi").c_str(), OF_CREATE | OF_WRITE, nullptr), AVIERR_OK);
        AVISTREAMINFOA info{};
        info.fccType = streamtypeVIDEO;
        info.dwScale = 1;
        info.dwRate = 5;
        ASSERT_EQ(AVIFileCreateStreamA(e.file.get(), e.plain.out(), &info), AVIERR_OK);
        AVICOMPRESSOPTIONS opts{};
        opts.fccHandler = mmioFOURCC('M', 'J', 'P', 'G');
        EXPECT_EQ(AVIMakeCompressedStream(e.compressed.out(), e.plain.get(), &opts, nullptr), AVIERR_NOCOMPRESSOR);
        EXPECT_EQ(e.compressed.get(), nullptr);
    }
    {
        // A full disk is reported by the write or, at the latest, by the commit.
        Export e;
        ASSERT_EQ(e.begin("/dev/full", b, 5), AVIERR_OK);
        HRESULT hr = AVIERR_OK;
        for (LONG k = 0; k < 4 && hr == AVIERR_OK; ++k)
            hr = e.frame(k, b);
        const HRESULT commit = AVIFileCommit(e.file.get());
        EXPECT_TRUE(hr == AVIERR_FILEWRITE || commit == AVIERR_FILEWRITE) << std::hex << hr << " " << commit;
        EXPECT_EQ(commit, AVIERR_FILEWRITE);
        EXPECT_EQ(AVIFileLastSystemError(), ENOSPC);
        EXPECT_NE(e.frame(5, b), AVIERR_OK); // nothing more after completion
    }
}

TEST(WriteApi, ReleaseOrderDoesNotMatter)
{
    ScratchDir dir;
    const std::string path = dir.file("order.avi");
    Bitmap b = makeBitmap(8, 2, 24, 0, 3);
    {
        Export e;
        ASSERT_EQ(e.begin(path, b, 2), AVIERR_OK);
        ASSERT_EQ(e.frame(0, b), AVIERR_OK);
        // The file goes first; the streams keep it open until they are released too.
        AVIFileRelease(e.file.detach());
        ASSERT_EQ(e.frame(1, b), AVIERR_OK);
    }
    const kestro::avi::Session session;
    kestro::avi::FileHandle f;
    kestro::avi::StreamHandle s;
    ASSERT_EQ(AVIFileOpenA(f.out(), path.c_str(), OF_READ, nullptr), AVIERR_OK);
    ASSERT_EQ(AVIFileGetStream(f.get(), s.out(), streamtypeVIDEO, 0), AVIERR_OK);
    EXPECT_EQ(AVIStreamLength(s.get()), 2);
    std::vector<std::uint8_t> got(b.header().biSizeImage);
    ASSERT_EQ(AVIStreamRead(s.get(), 1, 1, got.data(), static_cast<LONG>(got.size()), nullptr, nullptr), AVIERR_OK);
    EXPECT_EQ(0, std::memcmp(got.data(), b.pixels(), got.size()));
}

} // namespace
