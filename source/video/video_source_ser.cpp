// The SER side of CVideoSource: opening a SER capture, its Normal picture and its sensor plane.
// Everything else (the frame walk, the RAW images, the converter, greyscale, the exports) is
// the same code for both formats.
#include "video_source.h"

#include "bayer_pattern.h"
#include "ser_frames.h"
#include "video_messages.h"

#include <cctype>
#include <cstring>

namespace {

std::string Sentence(std::string text)
{
    if (!text.empty())
        text[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(text[0])));
    return text;
}

} // namespace

bool CVideoSource::OpenSer(std::string strFileName)
{
    using namespace kestro::video::messages;
    kestro::ser::OpenResult opened = kestro::ser::openSer(strFileName, {m_byteOrderChoice});
    if (!opened.reader) {
        Tell(kSerOpen.text + strFileName + "\n" + Sentence(opened.error) + ".", kSerOpen.caption);
        return false;
    }
    m_pSer = std::move(opened.reader);
    m_pSerFrames = std::make_unique<kestro::video::SerFrames>(*m_pSer);
    m_frameFormat = m_pSerFrames->NormalFormat();
    m_lStart = 0;
    m_lLast = m_pSer->frameCount() - 1;
    m_lCurrent = 0;
    m_lFramePos = 0;
    m_bFrameStale = true;
    // The header names the filter of the picture's top-left sites as the file stores it, top row
    // first, which is how the pattern table reads them too: RAW colour shows the right colours
    // without the user choosing. A choice of theirs afterwards holds for this capture.
    if (const std::optional<std::int32_t> pattern = GetHeaderPattern())
        m_converter.SetPattern(*pattern);
    for (const std::string& note : m_pSer->notes())
        Tell(note, kSerNoteCaption);
    m_strFileName = std::move(strFileName);
    return true;
}

const BITMAPINFOHEADER* CVideoSource::SerPicture()
{
    using namespace kestro::video::messages;
    if (!m_bFrameStale && m_pFrame)
        return m_pFrame;
    m_bFrameStale = false;
    m_pFrame = nullptr;
    const BITMAPINFOHEADER format = m_pSerFrames->NormalFormat();
    const std::size_t bytes = kestro::dib::formatBytes(format) + kestro::dib::imageBytes(format);
    // Made once per capture; its row padding, zeroed then, is never written.
    if (m_serPicture.Size() != bytes) {
        m_serPicture.Allocate(bytes);
        if (m_serPicture.IsEmpty()) {
            TellAboutFrame(m_lFramePos, kReadMemory.text, kReadMemory.caption);
            return nullptr;
        }
        std::memcpy(m_serPicture.Bytes(), &format, kestro::dib::kHeaderBytes);
        if (format.biBitCount == 8)
            kestro::dib::fillGreyTable(m_serPicture.Bytes() + kestro::dib::kHeaderBytes);
    }
    BITMAPINFOHEADER* picture = m_serPicture.Header();
    if (const kestro::ser::Status s = m_pSerFrames->ReadNormal(m_lFramePos, kestro::dib::pixels(*picture)); !s) {
        TellAboutFrame(m_lFramePos, Sentence(s.error) + ".", kSerReadCaption);
        return nullptr;
    }
    m_pFrame = picture;
    return m_pFrame;
}

bool CVideoSource::ReadSerPlane(std::size_t, std::size_t, std::uint8_t* pRows, std::int64_t nStride)
{
    using namespace kestro::video::messages;
    if (const kestro::ser::Status s =
            m_pSerFrames->ReadPlane8(m_lFramePos, pRows, static_cast<std::ptrdiff_t>(nStride));
        !s) {
        TellAboutFrame(m_lFramePos, Sentence(s.error) + ".", kSerReadCaption);
        return false;
    }
    return true;
}

bool CVideoSource::ReadSerRows(std::int32_t nFrame, std::int32_t nFirstRow, std::int32_t nRows, std::uint8_t* pDst,
                               std::ptrdiff_t nStride, ReadFailure* pFailure) const
{
    if (const kestro::ser::Status s = m_pSer->readRows(nFrame, nFirstRow, nRows, pDst, nStride); !s) {
        *pFailure = {Sentence(s.error) + ".", kestro::video::messages::kSerReadCaption};
        return false;
    }
    return true;
}

std::string CVideoSource::SerRawRefusal(bool bColour) const
{
    const kestro::ser::FrameLayout& layout = m_pSer->layout();
    const char* name = kestro::ser::findColor(static_cast<std::int32_t>(layout.colorId))->name;
    if (layout.planes != 1)
        return std::string("its frames hold ") + name + " colour pictures, not raw sensor values";
    if (bColour && layout.sampling == kestro::ser::Sampling::Cmy)
        return std::string("its sensor has a cyan, yellow and magenta filter (") + name +
               "), which the de-mosaic algorithms do not take";
    return {};
}

bool CVideoSource::SerRawAllowed(bool bColour)
{
    const std::string why = SerRawRefusal(bColour);
    if (!why.empty())
        Tell(Sentence(why) + "." + kestro::video::messages::kSerNoRaw.text, kestro::video::messages::kSerNoRaw.caption);
    return why.empty();
}

CaptureFormat CVideoSource::GetCaptureFormat() const
{
    return m_pSer ? CaptureFormat::Ser : m_pStream ? CaptureFormat::Avi : CaptureFormat::None;
}

const char* CVideoSource::GetCaptureFormatName() const
{
    switch (GetCaptureFormat()) {
    case CaptureFormat::Avi: return "AVI";
    case CaptureFormat::Ser: return "SER";
    case CaptureFormat::None: break;
    }
    return "";
}

int CVideoSource::GetStoredDepth() const
{
    if (m_pSer)
        return m_pSer->layout().bytesPerSample * 8;
    return m_pStream ? 8 : 0;
}

int CVideoSource::GetRealDepth() const
{
    if (m_pSer)
        return m_pSer->realDepth();
    return m_pStream ? 8 : 0;
}

std::string CVideoSource::GetColorIdName() const
{
    return m_pSer ? kestro::ser::findColor(static_cast<std::int32_t>(m_pSer->layout().colorId))->name : "";
}

std::optional<std::int32_t> CVideoSource::GetHeaderPattern() const
{
    if (!m_pSer || m_pSer->layout().sampling != kestro::ser::Sampling::Bayer)
        return std::nullopt;
    const kestro::bayer::Pattern* pattern = kestro::bayer::patternFromSensorName(m_pSer->layout().sites);
    return pattern ? std::optional<std::int32_t>(pattern->code) : std::nullopt;
}

std::optional<std::int64_t> CVideoSource::GetFrameTimeUtc(std::int32_t nFrame) const
{
    return m_pSer ? m_pSer->frameTimeUtc(nFrame) : std::nullopt;
}

bool CVideoSource::HasByteOrder() const { return m_pSer && m_pSer->layout().bytesPerSample == 2; }

kestro::ser::ByteOrder CVideoSource::GetByteOrder() const
{
    return m_pSer ? m_pSer->byteOrder() : kestro::ser::ByteOrder::Little;
}

kestro::ser::OrderBasis CVideoSource::GetOrderBasis() const
{
    return m_pSer ? m_pSer->orderBasis() : kestro::ser::OrderBasis::OneByteSamples;
}

void CVideoSource::SetByteOrder(std::optional<kestro::ser::ByteOrder> order)
{
    m_byteOrderChoice = order;
    if (!m_pSer)
        return;
    m_pSer->setByteOrder(order);
    // The Normal picture was made in the old order; the RAW images are read afresh anyway.
    m_bFrameStale = true;
    m_framesTold.clear();
}
