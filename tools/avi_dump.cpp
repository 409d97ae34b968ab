// kestro-avidump: what Kestro reads from an AVI file. First aid for a capture that will
// not open, and a way to compare our decode of a frame with other tools'.
#include "avi_reader.h"
#include "avi_handles.h"
#include "avifile.h"
#include "dib.h"
#include "riff.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace kestro::avi;

void usage()
{
    std::fprintf(stderr, "usage: kestro-avidump FILE [--frame N --bmp OUT.bmp]\n"
                         "Prints the streams of FILE, the decoded bit depth and the frames without\n"
                         "data; with --frame and --bmp writes decoded frame N as a BMP file.\n");
}

const char* indexSourceText(IndexSource s)
{
    switch (s) {
    case IndexSource::OpenDml: return "OpenDML indexes";
    case IndexSource::Idx1: return "idx1";
    case IndexSource::Scan: return "rebuilt by scanning movi";
    case IndexSource::None: break;
    }
    return "none";
}

const char* errorText(HRESULT hr)
{
    switch (hr) {
    case AVIERR_FILEOPEN: return "the file cannot be opened";
    case AVIERR_BADFORMAT: return "not an AVI file, or its headers are unusable";
    case AVIERR_FILEREAD: return "read error";
    case AVIERR_MEMORY: return "out of memory";
    default: return "error";
    }
}

// "3, 7, 10-20", at most `limit` runs.
std::string runsText(const std::vector<std::int32_t>& positions, std::size_t limit = 40)
{
    std::string s;
    std::size_t runs = 0;
    for (std::size_t i = 0; i < positions.size();) {
        std::size_t j = i;
        while (j + 1 < positions.size() && positions[j + 1] == positions[j] + 1)
            ++j;
        if (runs++ == limit) {
            s += ", ...";
            break;
        }
        if (!s.empty())
            s += ", ";
        s += std::to_string(positions[i]);
        if (j > i)
            s += "-" + std::to_string(positions[j]);
        i = j + 1;
    }
    return s;
}

bool writeBmp(const char* path, const BITMAPINFOHEADER* bih)
{
    const std::vector<std::uint8_t> head = kestro::dib::bmpFileHead(*bih);
    const std::size_t imageBytes = kestro::dib::imageBytes(*bih);
    FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(head.data(), 1, head.size(), f) == head.size();
    ok = ok && std::fwrite(kestro::dib::pixels(*bih), 1, imageBytes, f) == imageBytes;
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const char* path = nullptr;
    const char* bmp = nullptr;
    long frameNo = -1;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--frame") && i + 1 < argc) {
            char* end = nullptr;
            frameNo = std::strtol(argv[++i], &end, 10);
            if (!end || *end || frameNo < 0) {
                usage();
                return 2;
            }
        } else if (!std::strcmp(argv[i], "--bmp") && i + 1 < argc) {
            bmp = argv[++i];
        } else if (!std::strcmp(argv[i], "--help") || !std::strcmp(argv[i], "-h")) {
            usage();
            return 0;
        } else if (!path && argv[i][0] != '-') {
            path = argv[i];
        } else {
            usage();
            return 2;
        }
    }
    if (!path || (bmp && frameNo < 0) || (!bmp && frameNo >= 0)) {
        usage();
        return 2;
    }

    std::unique_ptr<AviReader> reader;
    const HRESULT hr = AviReader::open(path, reader);
    if (hr != AVIERR_OK) {
        std::fprintf(stderr, "kestro-avidump: %s: %s (0x%08X)\n", path, errorText(hr), static_cast<unsigned>(hr));
        return 1;
    }
    const FileSummary& sum = reader->summary();
    std::printf("File: %s (%llu bytes)\n", path, static_cast<unsigned long long>(reader->fileSize()));
    if (sum.openDml)
        std::printf("Container: OpenDML AVI 2.0, %u RIFF(s), avih frames %u, dmlh frames %u\n", sum.riffCount,
                    sum.avihTotalFrames, sum.dmlhTotalFrames);
    else
        std::printf("Container: AVI 1.0, avih frames %u%s\n", sum.avihTotalFrames, sum.hasIdx1 ? "" : ", no idx1");

    for (int i = 0; i < reader->streamCount(); ++i) {
        const StreamData& s = reader->stream(i);
        const AVISTREAMINFOA& in = s.info;
        std::printf("Stream %d: type '%s' handler '%s'", i, fourccText(in.fccType).c_str(),
                    fourccText(in.fccHandler).c_str());
        if (in.fccType == streamtypeVIDEO && s.format.size() >= 40) {
            BITMAPINFOHEADER bih;
            std::memcpy(&bih, s.format.data(), sizeof bih);
            std::printf(" format '%s' %dx%d %u-bit",
                        bih.biCompression < 256 ? (bih.biCompression == 0 ? "RGB" : "bitfields")
                                                : fourccText(bih.biCompression).c_str(),
                        bih.biWidth, bih.biHeight, bih.biBitCount);
        }
        std::printf("\n  format block %zu bytes, frame %d,%d,%d,%d, rate %u/%u", s.format.size(), in.rcFrame.left,
                    in.rcFrame.top, in.rcFrame.right, in.rcFrame.bottom, in.dwRate, in.dwScale);
        if (in.dwScale)
            std::printf(" (%.3f per second)", static_cast<double>(in.dwRate) / in.dwScale);
        std::printf(", start %u, length %u, largest sample %u bytes\n", in.dwStart, in.dwLength,
                    in.dwSuggestedBufferSize);
        std::printf("  index: %s", indexSourceText(s.indexSource));
        if (s.scannedSamples > 0 && s.indexSource != IndexSource::Scan)
            std::printf(", %d sample(s) found past its end", s.scannedSamples);
        std::printf("\n");
        std::vector<std::int32_t> empty;
        for (std::int32_t k = 0; k < s.index.size(); ++k)
            if (s.index[k].size == 0)
                empty.push_back(k + static_cast<std::int32_t>(in.dwStart));
        std::printf("  positions without data: %s\n", empty.empty() ? "none" : runsText(empty).c_str());
    }

    // Decoding goes through the same services Kestro uses.
    const kestro::avi::Session session;
    int status = 0;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    kestro::avi::GetFrameHandle gf;
    if (AVIFileOpenA(file.out(), path, OF_READ, nullptr) != AVIERR_OK ||
        AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0) != AVIERR_OK) {
        std::printf("Decoded: no video stream\n");
        status = bmp ? 1 : 0;
    } else if (gf = kestro::avi::GetFrameHandle(AVIStreamGetFrameOpen(stream.get(), nullptr)); !gf) {
        std::printf("Decoded: no decoder for this format\n");
        status = bmp ? 1 : 0;
    } else {
        const LONG first = AVIStreamFindSample(stream.get(), AVIStreamStart(stream.get()), FIND_ANY | FIND_NEXT);
        const auto* bih =
            first >= 0 ? static_cast<const BITMAPINFOHEADER*>(AVIStreamGetFrame(gf.get(), first)) : nullptr;
        if (bih)
            std::printf("Decoded: %d-bit %dx%d\n", bih->biBitCount, bih->biWidth, bih->biHeight);
        else
            std::printf("Decoded: first frame with data does not decode\n");
        if (bmp) {
            const LONG start = AVIStreamStart(stream.get());
            if (frameNo < start || frameNo >= static_cast<long>(start) + AVIStreamLength(stream.get())) {
                std::fprintf(stderr, "kestro-avidump: frame %ld is outside the stream\n", frameNo);
                status = 1;
            } else if (!(bih = static_cast<const BITMAPINFOHEADER*>(
                             AVIStreamGetFrame(gf.get(), static_cast<LONG>(frameNo))))) {
                std::fprintf(stderr, "kestro-avidump: frame %ld does not decode\n", frameNo);
                status = 1;
            } else if (!writeBmp(bmp, bih)) {
                std::fprintf(stderr, "kestro-avidump: cannot write %s\n", bmp);
                status = 1;
            } else {
                std::printf("Wrote frame %ld to %s\n", frameNo, bmp);
            }
        }
    }
    return status;
}
