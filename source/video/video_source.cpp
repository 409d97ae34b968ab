#include "video_source.h"

#include "capture_format.h"
#include "dib.h"
#include "greyscale.h"
#include "message_box.h"
#include "ser_frames.h"
#include "video_messages.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

using kestro::video::VideoMessage;

using kestro::dib::kGreyTableBytes;
using kestro::dib::kHeaderBytes;

std::int32_t saturate(std::int64_t v)
{
    return static_cast<std::int32_t>(std::clamp<std::int64_t>(v, std::numeric_limits<std::int32_t>::min(),
                                                              std::numeric_limits<std::int32_t>::max()));
}

} // namespace

CVideoSource::CVideoSource() : CVideoSource(AviReadServices{}) {}

CVideoSource::CVideoSource(const AviReadServices& services) : m_avi(services) { m_avi.fileInit(); }

CVideoSource::~CVideoSource()
{
    Close();
    m_avi.fileExit();
}

void CVideoSource::Tell(const std::string& strText, const std::string& strCaption)
{
    if (m_pHeldMessages)
        m_pHeldMessages->push_back({strText, strCaption});
    else
        kestro::ui::showMessage(strText, strCaption);
}

void CVideoSource::Tell(const VideoMessage& m) { Tell(m.text, m.caption); }

// A message whose text is a printf format, filled in with the values given.
template <class... Values> void CVideoSource::TellFormatted(const VideoMessage& m, Values... values)
{
    char text[256];
    std::snprintf(text, sizeof text, m.text, values...);
    Tell(text, m.caption);
}

bool CVideoSource::Fail(const VideoMessage& m, const std::string& detail)
{
    const char* why = m_avi.lastErrorText ? m_avi.lastErrorText() : nullptr;
    std::string text = m.text + detail;
    if (why && *why)
        text += std::string("\n") + char(std::toupper(static_cast<unsigned char>(*why))) + (why + 1) + ".";
    Tell(text, m.caption);
    Close();
    return false;
}

template <class... Values>
void CVideoSource::TellAboutFrame(std::int32_t nFrame, const VideoMessage& m, Values... values)
{
    // While an export holds the messages it reports each frame itself; they are not counted.
    if (!m_pHeldMessages && !m_framesTold.insert(nFrame).second)
        return;
    TellFormatted(m, values...);
}

void CVideoSource::TellAboutFrame(std::int32_t nFrame, const std::string& strText, const std::string& strCaption)
{
    if (!m_pHeldMessages && !m_framesTold.insert(nFrame).second)
        return;
    Tell(strText, strCaption);
}

bool CVideoSource::Open(std::string strFileName)
{
    using namespace kestro::video::messages;
    Close();
    if (kestro::video::CaptureFormatOf(strFileName) == CaptureFormat::Ser)
        return OpenSer(std::move(strFileName));
    if (m_avi.fileOpen(&m_pFile, strFileName.c_str(), OF_READ, nullptr) != AVIERR_OK) {
        m_pFile = nullptr;
        return Fail(kOpenFile, strFileName);
    }
    if (m_avi.fileGetStream(m_pFile, &m_pStream, streamtypeVIDEO, 0) != AVIERR_OK) {
        m_pStream = nullptr;
        return Fail(kGetStream);
    }
    if (m_avi.streamInfo(m_pStream, &m_streamInfo, sizeof(AVISTREAMINFOA)) != AVIERR_OK)
        return Fail(kStreamInfo);
    m_pGetFrame = m_avi.getFrameOpen(m_pStream, nullptr);
    if (!m_pGetFrame)
        return Fail(kGetFrameOpen);
    m_lStart = m_avi.streamStart(m_pStream);
    m_lLast = m_avi.streamLength(m_pStream) - 1;
    m_lCurrent = 0;
    // A capture whose first frame was dropped still opens: the picture shown is that of the
    // first frame that holds data, while frame 0 stays current, as GoToFrame would leave it.
    const std::int32_t firstData = FindDataFrame(0);
    m_lFramePos = firstData >= 0 ? firstData : 0;
    m_pFrame = static_cast<const BITMAPINFOHEADER*>(m_avi.getFrame(m_pGetFrame, PositionOf(m_lFramePos)));
    m_bFrameStale = false;
    if (!m_pFrame)
        return Fail(kGetFrame);
    m_frameFormat = *m_pFrame;
    m_strFileName = std::move(strFileName);
    return true;
}

void CVideoSource::Close()
{
    m_pFrame = nullptr;
    m_bFrameStale = false;
    m_lFramePos = -1;
    if (m_pGetFrame)
        m_avi.getFrameClose(m_pGetFrame);
    if (m_pStream)
        m_avi.streamRelease(m_pStream);
    if (m_pFile)
        m_avi.fileRelease(m_pFile);
    m_pGetFrame = nullptr;
    m_pStream = nullptr;
    m_pFile = nullptr;
    m_lStart = m_lLast = m_lCurrent = -1;
    m_strFileName.clear();
    m_frameFormat = {};
    m_streamInfo = {};
    m_pRawImage.Release();
    m_pColourImage.Release();
    m_readBuffer.Release();
    m_framesTold.clear();
    m_pSerFrames.reset();
    m_pSer.reset();
    m_serPicture.Release();
}

std::int32_t CVideoSource::GetFrameCount() const
{
    if (m_pSer)
        return m_pSer->frameCount();
    return m_pStream ? m_avi.streamLength(m_pStream) : 0;
}

std::int32_t CVideoSource::GetPromisedFrameCount() const
{
    return m_pStream && m_avi.streamPromisedLength ? std::max(m_avi.streamPromisedLength(m_pStream), GetFrameCount())
                                                   : GetFrameCount();
}

// The header's rectangle is served as stored; a hostile one must not overflow the difference.
std::int32_t CVideoSource::GetFrameWidth() const
{
    if (m_pSer)
        return m_pSer->layout().width;
    if (!m_pStream)
        return 0;
    return saturate(std::int64_t{m_streamInfo.rcFrame.right} - m_streamInfo.rcFrame.left);
}

std::int32_t CVideoSource::GetFrameHeight() const
{
    if (m_pSer)
        return m_pSer->layout().height;
    if (!m_pStream)
        return 0;
    return saturate(std::int64_t{m_streamInfo.rcFrame.bottom} - m_streamInfo.rcFrame.top);
}

std::int32_t CVideoSource::GoToFrame(std::int32_t n)
{
    if (!IsOpen())
        return 0;
    if (n < 0 || n > m_lLast)
        return m_lCurrent;
    // Every frame a SER reader counts is whole: there are no frames without data.
    m_lCurrent = m_pSer ? n : FrameAt(m_avi.streamFindSample(m_pStream, PositionOf(n), FIND_ANY | FIND_PREV));
    // Without an earlier frame with data the previous picture stays, as the decoder still holds it.
    if (m_lCurrent >= 0) {
        m_lFramePos = m_lCurrent;
        m_bFrameStale = true;
    }
    return m_lCurrent;
}

std::int32_t CVideoSource::FindDataFrame(std::int32_t n) const
{
    if (!IsOpen() || n < 0 || n > m_lLast)
        return -1;
    if (m_pSer)
        return n;
    return FrameAt(m_avi.streamFindSample(m_pStream, PositionOf(n), FIND_ANY | FIND_NEXT));
}

const BITMAPINFOHEADER* CVideoSource::DecodedFrame()
{
    if (m_pSer)
        return SerPicture();
    if (!m_pGetFrame)
        return nullptr;
    if (m_bFrameStale) {
        m_pFrame = static_cast<const BITMAPINFOHEADER*>(m_avi.getFrame(m_pGetFrame, PositionOf(m_lFramePos)));
        m_bFrameStale = false;
    }
    return m_pFrame;
}

const BITMAPINFOHEADER* CVideoSource::GetFrameBitmap()
{
    const BITMAPINFOHEADER* p = m_bRaw ? ReadRawFrame() : DecodedFrame();
    if (m_bGreyscale && p)
        p = MakeGreyscale(p);
    return p;
}

// The 8-bit image of the sensor plane and room for its de-mosaiced picture, made once per file.
// Returns false, with the user told why, when the frames cannot be shown raw.
bool CVideoSource::CreateRawImages(const BITMAPINFOHEADER& frame)
{
    using namespace kestro::video::messages;
    const std::int32_t w = frame.biWidth;
    if (w <= 0 || w % 4 != 0) {
        TellFormatted(kWidthNotMultipleOf4, static_cast<int>(w));
        return false;
    }
    // Decoders deliver bottom-up frames; anything else has no plane this image could hold.
    if (frame.biHeight <= 0) {
        TellFormatted(kHeightNotSupported, static_cast<int>(frame.biHeight));
        return false;
    }
    // The plane is W x H bytes whatever the decoder wrote into biSizeImage (0 is legal for
    // uncompressed frames), so the image is sized from the dimensions.
    const std::size_t planeBytes = static_cast<std::size_t>(w) * static_cast<std::size_t>(frame.biHeight);
    // A compressed capture stores far fewer bytes than a plane: refused once, here, rather than
    // told at every frame shown.
    std::int32_t first = -1;
    if (const std::int64_t stored = FirstSampleBytes(&first);
        stored >= 0 && stored < static_cast<std::int64_t>(planeBytes)) {
        TellFormatted(kNoRawPlanes, static_cast<long>(first), static_cast<long long>(stored),
                      static_cast<long long>(planeBytes));
        return false;
    }
    m_pRawImage.Allocate(kHeaderBytes + kGreyTableBytes + planeBytes);
    m_pColourImage.Allocate(kHeaderBytes + planeBytes * 3);
    if (m_pRawImage.IsEmpty() || m_pColourImage.IsEmpty()) {
        m_pRawImage.Release();
        m_pColourImage.Release();
        Tell(kReadMemory);
        return false;
    }
    // The width is a multiple of 4, so the rows need no padding: the plane's bytes are the image's.
    BITMAPINFOHEADER raw = kestro::dib::greyHeader(frame);
    // 0 already means a full table of 256 for an 8-bit bitmap; any other count would misplace
    // the pixels for readers that follow the header.
    raw.biClrUsed = frame.biClrUsed == 0 ? 0 : 256;
    std::memcpy(m_pRawImage.Bytes(), &raw, kHeaderBytes);
    kestro::dib::fillGreyTable(m_pRawImage.Bytes() + kHeaderBytes);

    BITMAPINFOHEADER colour = frame;
    colour.biSize = kHeaderBytes;
    colour.biCompression = BI_RGB;
    colour.biClrUsed = 0;
    colour.biClrImportant = 0;
    std::memcpy(m_pColourImage.Bytes(), &colour, kHeaderBytes);
    return true;
}

// Reads the sensor plane at the start of the current frame's stored sample, and only the plane:
// the rest of the sample (the U and V planes of an I420 frame, a third of it) is never used by
// the RAW modes. Stored row k goes to pRows + k * nStride: a negative stride turns the plane
// upside down into a bottom-up bitmap as it is read.
bool CVideoSource::ReadStoredPlane(std::size_t nWidth, std::size_t nHeight, std::uint8_t* pRows, std::int64_t nStride)
{
    if (m_pSer)
        return ReadSerPlane(nWidth, nHeight, pRows, nStride);
    if (nHeight > static_cast<std::size_t>(std::numeric_limits<std::int32_t>::max())) {
        TellAboutFrame(m_lFramePos, kestro::video::messages::kReadMemory);
        return false;
    }
    return ReadPlaneRows(m_lFramePos, 0, static_cast<std::int32_t>(nHeight), pRows,
                         static_cast<std::ptrdiff_t>(nStride));
}

int CVideoSource::GetPlaneSampleBytes() const
{
    if (m_pSer)
        return m_pSer->layout().planes == 1 ? m_pSer->layout().bytesPerSample : 0;
    return m_pStream ? 1 : 0;
}

// The stream header's frame rectangle is only what the file claims: writers leave it empty or get
// it wrong, and rows of its width would not fit the rows of a picture of the decoded size.
std::int32_t CVideoSource::GetPlaneWidth() const
{
    if (m_pSer)
        return GetFrameWidth();
    return m_pStream ? m_frameFormat.biWidth : 0;
}

std::int32_t CVideoSource::GetPlaneHeight() const
{
    if (m_pSer)
        return GetFrameHeight();
    return m_pStream ? m_frameFormat.biHeight : 0;
}

bool CVideoSource::ReadPlaneRows(std::int32_t nFrame, std::int32_t nFirstRow, std::int32_t nRows, std::uint8_t* pDst,
                                 std::ptrdiff_t nStride)
{
    ReadFailure failure;
    if (ReadPlaneRows(nFrame, nFirstRow, nRows, pDst, nStride, &failure))
        return true;
    TellReadFailure(nFrame, failure);
    return false;
}

void CVideoSource::TellReadFailure(std::int32_t nFrame, const ReadFailure& failure)
{
    if (!failure.text.empty())
        TellAboutFrame(nFrame, failure.text, failure.caption);
}

bool CVideoSource::ReadPlaneRows(std::int32_t nFrame, std::int32_t nFirstRow, std::int32_t nRows, std::uint8_t* pDst,
                                 std::ptrdiff_t nStride, ReadFailure* pFailure) const
{
    using namespace kestro::video::messages;
    *pFailure = {};
    const std::int64_t nWidth = GetPlaneWidth();
    const std::int64_t nHeight = GetPlaneHeight();
    // Rows outside the plane are a caller's mistake, not the file's: nothing to tell the user.
    if (!IsOpen() || nWidth <= 0 || nFirstRow < 0 || nRows < 0 || nRows > nHeight - nFirstRow)
        return false;
    if (m_pSer)
        return ReadSerRows(nFrame, nFirstRow, nRows, pDst, nStride, pFailure);
    // The plane is the first width x height bytes of the stored sample, top row first: the Y
    // plane of the YUV formats raw captures are stored in.
    const std::int64_t nOffset = std::int64_t{nFirstRow} * nWidth;
    const std::int64_t nBytes = std::int64_t{nRows} * nWidth;
    if (nOffset + nBytes > std::numeric_limits<LONG>::max()) {
        *pFailure = {kReadMemory.text, kReadMemory.caption};
        return false;
    }
    LONG bytes = 0;
    const HRESULT hr =
        m_avi.streamReadPart(m_pStream, PositionOf(nFrame), static_cast<LONG>(nOffset), static_cast<LONG>(nWidth),
                             static_cast<LONG>(nRows), pDst, static_cast<LONG>(nStride), &bytes);
    for (const auto& error : kReadErrors) {
        if (hr == error.result) {
            *pFailure = {error.message.text, error.message.caption};
            return false;
        }
    }
    // A sample too short for the plane gives fewer bytes: how many it holds is what the user
    // is told.
    if (bytes < 0 || bytes < nBytes) {
        LONG stored = nOffset == 0 ? std::max<LONG>(bytes, 0) : 0;
        if (nOffset != 0 &&
            m_avi.streamRead(m_pStream, PositionOf(nFrame), 1, nullptr, 0, &stored, nullptr) != AVIERR_OK)
            stored = 0;
        char text[256];
        std::snprintf(text, sizeof text, kSampleTooShort.text, static_cast<long>(nFrame),
                      static_cast<long long>(stored), static_cast<long long>(nHeight * nWidth));
        *pFailure = {text, kSampleTooShort.caption};
        return false;
    }
    return true;
}

std::int64_t CVideoSource::FirstSampleBytes(std::int32_t* pFrame) const
{
    const std::int32_t first = FindDataFrame(0);
    *pFrame = first;
    // A SER frame always holds its whole plane: the reader counts whole frames only.
    if (m_pSer)
        return -1;
    LONG sampleBytes = 0;
    if (first < 0 || m_avi.streamRead(m_pStream, PositionOf(first), 1, nullptr, 0, &sampleBytes, nullptr) != AVIERR_OK)
        return -1;
    return sampleBytes;
}

const BITMAPINFOHEADER* CVideoSource::ReadRawFrame()
{
    using namespace kestro::video::messages;
    if (!IsOpen())
        return nullptr;
    // The decoder's format is the same for every frame of the stream, so the RAW modes take it
    // from the first frame and leave the current one undecoded.
    const BITMAPINFOHEADER frame = RawFormat();
    if (m_pSer) {
        if (!SerRawAllowed(m_bRawColour)) {
            m_bRaw = false;
            return DecodedFrame();
        }
    } else if (frame.biBitCount != 24) {
        Tell(kNot24Bit);
        m_bRaw = false;
        return DecodedFrame();
    }
    if (m_pRawImage.IsEmpty() && !CreateRawImages(frame)) {
        m_bRaw = false;
        return DecodedFrame();
    }
    const std::size_t width = static_cast<std::size_t>(frame.biWidth);
    const std::size_t height = static_cast<std::size_t>(frame.biHeight);
    // The plane is stored top row first; the bitmap's first row is the bottom one, so RAW
    // Y-channel reads the rows straight into the 8-bit image from its top row down. RAW colour
    // never hands the 8-bit image out; it reads the plane as stored, for the converter.
    if (!m_bRawColour) {
        std::uint8_t* rawPixels = kestro::dib::pixels(*m_pRawImage.Header());
        if (!ReadStoredPlane(width, height, rawPixels + (height - 1) * width, -static_cast<std::int64_t>(width)))
            return nullptr;
        return m_pRawImage.Header();
    }
    if (width * height > m_readBuffer.Size()) {
        m_readBuffer.Allocate(width * height);
        if (m_readBuffer.IsEmpty()) {
            TellAboutFrame(m_lFramePos, kReadMemory);
            return nullptr;
        }
    }
    if (!ReadStoredPlane(width, height, m_readBuffer.Bytes(), static_cast<std::int64_t>(width)))
        return nullptr;
    const std::uint8_t* plane = m_readBuffer.Bytes();

    std::int32_t outWidth = 0, outHeight = 0;
    if (!m_converter.ConvertPlane(frame.biWidth, frame.biHeight, plane, kestro::dib::pixels(*m_pColourImage.Header()),
                                  outWidth, outHeight)) {
        TellFormatted(kConverterRefused, static_cast<int>(m_converter.GetAlgorithm()), static_cast<int>(frame.biWidth),
                      static_cast<int>(frame.biHeight));
        m_bRaw = false;
        return DecodedFrame();
    }
    BITMAPINFOHEADER* colour = m_pColourImage.Header();
    colour->biWidth = outWidth;
    colour->biHeight = outHeight;
    colour->biSizeImage = static_cast<DWORD>(outWidth) * static_cast<DWORD>(outHeight) * 3;
    return colour;
}

bool CVideoSource::CanShowRaw(bool bColour, std::string* pReason) const
{
    auto refuse = [pReason](const char* format, auto... values) {
        if (pReason) {
            char text[256];
            std::snprintf(text, sizeof text, format, values...);
            *pReason = text;
        }
        return false;
    };
    if (!IsOpen())
        return refuse("no capture is open");
    const BITMAPINFOHEADER frame = RawFormat();
    if (m_pSer) {
        if (const std::string why = SerRawRefusal(bColour); !why.empty())
            return refuse("%s", why.c_str());
    } else if (frame.biBitCount != 24) {
        return refuse("its frames decode to %d bits per pixel, not 24", static_cast<int>(frame.biBitCount));
    }
    if (frame.biWidth <= 0 || frame.biWidth % 4 != 0)
        return refuse("its frame width of %d pixels is not a multiple of 4", static_cast<int>(frame.biWidth));
    if (frame.biHeight <= 0)
        return refuse("its frame height of %d rows is not supported", static_cast<int>(frame.biHeight));
    // Compressed captures store far fewer bytes than a sensor plane; one stored frame tells.
    const std::int64_t planeBytes = std::int64_t{frame.biWidth} * frame.biHeight;
    std::int32_t first = -1;
    if (const std::int64_t stored = FirstSampleBytes(&first); stored >= 0 && stored < planeBytes)
        return refuse("frame %ld is stored in %lld bytes, too few for its %lld sensor values", static_cast<long>(first),
                      static_cast<long long>(stored), static_cast<long long>(planeBytes));
    if (bColour && !m_converter.CanConvert(frame.biWidth, frame.biHeight))
        return refuse("the de-mosaic algorithm %d cannot convert a frame of %d x %d pixels",
                      static_cast<int>(m_converter.GetAlgorithm()), static_cast<int>(frame.biWidth),
                      static_cast<int>(frame.biHeight));
    return true;
}

BITMAPINFOHEADER CVideoSource::RawFormat() const
{
    return m_pSer ? kestro::dib::header(GetFrameWidth(), GetFrameHeight(), 24) : m_frameFormat;
}

const BITMAPINFOHEADER* CVideoSource::MakeGreyscale(const BITMAPINFOHEADER* pBitmap)
{
    using namespace kestro::video::messages;
    if (!pBitmap)
        return nullptr;
    // 32-bit frames (blue, green, red and an unused byte) are colour too: a capture that decodes
    // to them is summed, and shown in greyscale, by the same formula.
    const int bytesPerPixel = pBitmap->biBitCount / 8;
    if ((bytesPerPixel != 3 && bytesPerPixel != 4) || pBitmap->biBitCount % 8 != 0 ||
        (bytesPerPixel == 4 && pBitmap->biCompression != BI_RGB))
        return pBitmap;
    const std::int64_t width = pBitmap->biWidth;
    const auto rows = static_cast<std::int64_t>(kestro::dib::rows(*pBitmap));
    if (width <= 0 || rows == 0)
        return pBitmap;
    // Rows are walked with their padding, so widths that are not a multiple of 4 come out
    // right; for the others this is the same as walking W x H consecutive pixels.
    const BITMAPINFOHEADER grey = kestro::dib::greyHeader(*pBitmap);
    const std::size_t inStride = kestro::dib::stride(*pBitmap), outStride = kestro::dib::stride(grey);
    const std::size_t total = kestro::dib::formatBytes(grey) + outStride * static_cast<std::size_t>(rows);
    // Same size as the last one: its block is rewritten completely, so it is reused.
    if (m_pGreyImage.Size() != total) {
        m_pGreyImage.Allocate(total);
        if (m_pGreyImage.IsEmpty()) {
            Tell(kGreyMemory);
            return nullptr;
        }
    }
    std::uint8_t* out = m_pGreyImage.Bytes();
    std::memcpy(out, &grey, kHeaderBytes);
    kestro::dib::fillGreyTable(out + kHeaderBytes);
    const std::uint8_t* in = kestro::dib::pixels(*pBitmap);
    out = kestro::dib::pixels(*m_pGreyImage.Header());
    for (std::int64_t y = 0; y < rows; ++y) {
        std::uint8_t* row = out + static_cast<std::size_t>(y) * outStride;
        const std::uint8_t* pixels = in + static_cast<std::size_t>(y) * inStride;
        if (bytesPerPixel == 3) {
            kestro::video::greyRow(pixels, row, static_cast<int>(width));
        } else {
            for (std::int64_t x = 0; x < width; ++x)
                row[x] = kestro::video::greyOf(pixels[4 * x], pixels[4 * x + 1], pixels[4 * x + 2]);
        }
        std::memset(row + width, 0, outStride - static_cast<std::size_t>(width));
    }
    return m_pGreyImage.Header();
}
