#include "avi_output.h"

#include "export_frames.h"

namespace kestro::exports {

bool CAviOutput::Open(DWORD dwRate, DWORD dwSuggestedBufferSize, const BITMAPINFOHEADER& format, ExportReport& report)
{
    const char* target = Target().c_str();
    int nError = 0;
    if (!m_staged.create(&nError)) {
        report.Fail(messages::kAviCreate,
                    Format(messages::kAviCreate.text, target, DescribeSystemError(nError).c_str()));
        return false;
    }
    if (!AviWriteOpenFile(m_file.out(), m_staged.tempPath())) {
        report.Fail(messages::kAviCreate,
                    Format(messages::kAviCreate.text, target, DescribeSystemError(AVIFileLastSystemError()).c_str()));
        return false;
    }
    if (!AviWriteCreateStream(m_file.get(), m_plain.out(), dwRate, dwSuggestedBufferSize, format.biWidth,
                              format.biHeight) ||
        !AviWriteSetCompression(m_plain.get(), m_compressed.out(), &format)) {
        report.Fail(messages::kAviStream, Format(messages::kAviStream.text, target));
        return false;
    }
    return true;
}

std::int32_t CAviOutput::LostFrame(std::int32_t nFallback) const
{
    const LONG lost = AVIStreamFirstLostSample(m_compressed.get());
    return lost >= 0 && static_cast<std::size_t>(lost) < m_sourceFrames.size() ? m_sourceFrames[lost] : nFallback;
}

bool CAviOutput::Write(LONG nPosition, const BITMAPINFOHEADER& bitmap, std::int32_t nSourceFrame, ExportReport& report)
{
    m_sourceFrames.resize(static_cast<std::size_t>(nPosition) + 1, -1);
    m_sourceFrames[static_cast<std::size_t>(nPosition)] = nSourceFrame;
    if (AviWriteFrame(m_compressed.get(), nPosition, &bitmap))
        return true;
    const int nError = AVIFileLastSystemError();
    report.Fail(messages::kAviWrite, Format(messages::kAviWrite.text, static_cast<int>(LostFrame(nSourceFrame)),
                                            Target().c_str(), DescribeSystemError(nError).c_str()));
    return false;
}

bool CAviOutput::Complete(ExportReport& report)
{
    const bool bDone = AVIFileCommit(m_file.get()) == AVIERR_OK;
    const int nError = AVIFileLastSystemError();
    // Frames still in the writer's buffer reach the disk only now; a full disk then loses them.
    const std::int32_t nLost = bDone ? -1 : LostFrame(-1);
    AviWriteReleaseStreams(m_plain.detach(), m_compressed.detach(), nullptr);
    AviWriteReleaseFile(m_file.detach());
    if (nLost >= 0)
        report.Fail(messages::kAviWrite, Format(messages::kAviWrite.text, static_cast<int>(nLost), Target().c_str(),
                                                DescribeSystemError(nError).c_str()));
    else if (!bDone)
        report.Fail(messages::kAviComplete,
                    Format(messages::kAviComplete.text, Target().c_str(), DescribeSystemError(nError).c_str()));
    return bDone;
}

bool CAviOutput::PutInPlace(ExportReport& report)
{
    int nError = 0;
    if (!m_staged.commit(&nError)) {
        report.Fail(messages::kAviReplace,
                    Format(messages::kAviReplace.text, Target().c_str(), DescribeSystemError(nError).c_str()));
        return false;
    }
    report.files.push_back(Target());
    return true;
}

void FinishAviOutputs(ExportRun& run, std::span<CAviOutput> outputs, LONG nWritten)
{
    ExportReport& report = run.report;
    report.nFramesWritten = nWritten;
    if (nWritten == 0)
        run.FailNothingWritten();
    bool bComplete = !report.failure;
    for (CAviOutput& output : outputs)
        bComplete = bComplete && output.Complete(report);
    for (CAviOutput& output : outputs)
        bComplete = bComplete && output.PutInPlace(report);
    if (!bComplete)
        report.nFramesWritten = 0;
}

} // namespace kestro::exports
