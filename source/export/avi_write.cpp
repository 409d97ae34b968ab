#include "avi_write.h"

#include "dib.h"

#include <limits>

namespace {

constexpr FOURCC kUncompressed = mmioFOURCC('D', 'I', 'B', ' ');

} // namespace

// The services are started once for the life of the video source and need no version check
// here: every build of them writes the format the exports need.
bool AviWriteInit()
{
    AVIFileInit();
    return true;
}

bool AviWriteOpenFile(PAVIFILE* ppFile, const std::string& strPath)
{
    return AVIFileOpenA(ppFile, strPath.c_str(), OF_CREATE | OF_WRITE, nullptr) == AVIERR_OK;
}

bool AviWriteCreateStream(PAVIFILE pFile, PAVISTREAM* ppStream, DWORD dwRate, DWORD dwSuggestedBufferSize, LONG nWidth,
                          LONG nHeight)
{
    AVISTREAMINFOA info{};
    info.fccType = streamtypeVIDEO;
    info.fccHandler = 0;
    info.dwScale = 1;
    info.dwRate = dwRate;
    info.dwSuggestedBufferSize = dwSuggestedBufferSize;
    info.rcFrame = {0, 0, nWidth, nHeight};
    return AVIFileCreateStreamA(pFile, ppStream, &info) == AVIERR_OK;
}

bool AviWriteSetCompression(PAVISTREAM pStream, PAVISTREAM* ppCompressed, const BITMAPINFOHEADER* pBitmap)
{
    AVICOMPRESSOPTIONS options{};
    options.fccHandler = kUncompressed;
    options.dwFlags = AVICOMPRESSF_VALID;
    if (AVIMakeCompressedStream(ppCompressed, pStream, &options, nullptr) != AVIERR_OK)
        return false;
    if (!pBitmap)
        return false;
    const std::size_t formatBytes = kestro::dib::formatBytes(*pBitmap);
    if (formatBytes > static_cast<std::size_t>(std::numeric_limits<LONG>::max()))
        return false;
    return AVIStreamSetFormat(*ppCompressed, 0, pBitmap, static_cast<LONG>(formatBytes)) == AVIERR_OK;
}

bool AviWriteFrame(PAVISTREAM pCompressed, LONG nPosition, const BITMAPINFOHEADER* pBitmap)
{
    if (!pBitmap)
        return false;
    const std::size_t imageBytes = kestro::dib::imageBytes(*pBitmap);
    if (imageBytes > static_cast<std::size_t>(std::numeric_limits<LONG>::max()))
        return false;
    return AVIStreamWrite(pCompressed, nPosition, 1, kestro::dib::pixels(*pBitmap), static_cast<LONG>(imageBytes),
                          AVIIF_KEYFRAME, nullptr, nullptr) == AVIERR_OK;
}

bool AviWriteReleaseStreams(PAVISTREAM pFirst, PAVISTREAM pSecond, PAVISTREAM pThird)
{
    for (PAVISTREAM p : {pFirst, pSecond, pThird}) {
        if (p)
            AVIStreamRelease(p);
    }
    return true;
}

bool AviWriteReleaseFile(PAVIFILE pFile)
{
    if (pFile)
        AVIFileRelease(pFile);
    return true;
}

bool AviWriteExit()
{
    AVIFileExit();
    return true;
}
