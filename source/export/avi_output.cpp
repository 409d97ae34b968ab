#include "avi_output.h"

namespace kestro::exports {

bool CAviOutput::Open(DWORD dwRate, DWORD dwSuggestedBufferSize, const BITMAPINFOHEADER& format, ExportReport& report)
{
    const char* target = Target().c_str();
    int nError = 0;
    if (!m_staged.Create(&nError)) {
        report.Fail(messages::kAviCreate,
                    Format(messages::kAviCreate.text, target, DescribeSystemError(nError).c_str()));
        return false;
    }
    if (!AviWriteOpenFile(m_file.Out(), m_staged.TempPath())) {
        report.Fail(messages::kAviCreate,
                    Format(messages::kAviCreate.text, target, DescribeSystemError(AVIFileLastSystemError()).c_str()));
        return false;
    }
    if (!AviWriteCreateStream(m_file.Get(), m_plain.Out(), dwRate, dwSuggestedBufferSize, format.biWidth,
                              format.biHeight) ||
        !AviWriteSetCompression(m_plain.Get(), m_compressed.Out(), &format)) {
        report.Fail(messages::kAviStream, Format(messages::kAviStream.text, target));
        return false;
    }
    return true;
}

bool CAviOutput::Write(LONG nPosition, const BITMAPINFOHEADER& bitmap, std::int32_t nSourceFrame, ExportReport& report)
{
    if (AviWriteFrame(m_compressed.Get(), nPosition, &bitmap))
        return true;
    report.Fail(messages::kAviWrite, Format(messages::kAviWrite.text, static_cast<int>(nSourceFrame), Target().c_str(),
                                            DescribeSystemError(AVIFileLastSystemError()).c_str()));
    return false;
}

bool CAviOutput::Complete(ExportReport& report)
{
    const bool bDone = AVIFileCommit(m_file.Get()) == AVIERR_OK;
    const int nError = AVIFileLastSystemError();
    AviWriteReleaseStreams(m_plain.Detach(), m_compressed.Detach(), nullptr);
    AviWriteReleaseFile(m_file.Detach());
    if (!bDone)
        report.Fail(messages::kAviComplete,
                    Format(messages::kAviComplete.text, Target().c_str(), DescribeSystemError(nError).c_str()));
    return bDone;
}

bool CAviOutput::PutInPlace(ExportReport& report)
{
    int nError = 0;
    if (!m_staged.Commit(&nError)) {
        report.Fail(messages::kAviReplace,
                    Format(messages::kAviReplace.text, Target().c_str(), DescribeSystemError(nError).c_str()));
        return false;
    }
    report.files.push_back(Target());
    return true;
}

} // namespace kestro::exports
