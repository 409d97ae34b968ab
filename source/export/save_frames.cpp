// Save and Save As: the ticked frames as one AVI file or as a numbered series of BMP files.
#include "avi_output.h"
#include "avi_write.h"
#include "dib.h"
#include "export_frames.h"
#include "export_report.h"
#include "staged_file.h"
#include "video_source.h"
#include "write_all.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

namespace {

using namespace kestro::exports;

constexpr DWORD kAviRate = 5;

// One BMP file, staged so that a failure leaves neither a half-written file nor a damaged earlier
// one. False with the system's error number when it could not be written.
bool WriteBmp(const std::string& strPath, const BITMAPINFOHEADER& bih, int& nError)
{
    kestro::fileio::StagedFile staged(strPath);
    if (!staged.create(&nError))
        return false;
    // Not O_TRUNC: the staged file was just created empty, and ext4 takes a truncation, even of
    // an empty file, as a file rewritten in place and writes all of it back at close.
    const int fd = ::open(staged.tempPath().c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) {
        nError = errno;
        return false;
    }
    const std::vector<std::uint8_t> head = kestro::dib::bmpFileHead(bih);
    kestro::fileio::WriteResult put = kestro::fileio::writeAll(fd, head.data(), head.size());
    if (put.error == 0)
        put = kestro::fileio::writeAll(fd, kestro::dib::pixels(bih), kestro::dib::imageBytes(bih));
    bool bOk = put.error == 0;
    if (!bOk)
        nError = put.error;
    if (::close(fd) != 0 && bOk) {
        bOk = false;
        nError = errno;
    }
    return bOk && staged.commit(&nError);
}

} // namespace

bool CVideoSource::SaveFramesAsAvi(std::string strPath, FramePredicate pfnTake, ProgressCallback pfnStep,
                                   ExportReport* pReport)
{
    return RunExport(*this, {ExportKind::Avi, strPath, 1, pfnTake}, pfnStep, pReport, [&](ExportRun& run) {
        ExportReport& report = run.report;
        CAviWriteSession session;
        CAviOutput output(run.plan.names.Name(0));
        const BITMAPINFOHEADER& first = run.format.Header();
        if (!output.Open(kAviRate, first.biSizeImage, first, report))
            return;
        // Positions count written frames, so gaps in the ticks leave none in the file.
        LONG nWritten = 0;
        run.ForEachFrame([&](std::int32_t nFrame, const BITMAPINFOHEADER& bitmap) {
            if (!output.Write(nWritten, bitmap, nFrame, report))
                return false;
            ++nWritten;
            return true;
        });
        FinishAviOutputs(run, std::span(&output, 1), nWritten);
    });
}

bool CVideoSource::SaveFramesAsBmp(std::string strPath, FramePredicate pfnTake, ProgressCallback pfnStep,
                                   ExportReport* pReport)
{
    return RunExport(*this, {ExportKind::Bmp, strPath, 1, pfnTake}, pfnStep, pReport, [&](ExportRun& run) {
        ExportReport& report = run.report;
        // The series is numbered by the files written, so frames left out leave no gap in it.
        run.ForEachFrame([&](std::int32_t, const BITMAPINFOHEADER& bitmap) {
            return WriteBmpFile(run.plan.names.Name(report.nFramesWritten), bitmap, report);
        });
        if (report.nFramesWritten == 0)
            run.FailNothingWritten();
    });
}

bool CVideoSource::WriteBmpFile(std::string strPath, ExportReport* pReport)
{
    ExportReport local;
    ExportReport& report = pReport ? *pReport : local;
    report = {};
    const BITMAPINFOHEADER* pBitmap = GetFrameBitmap();
    if (pBitmap)
        WriteBmpFile(strPath, *pBitmap, report);
    return FinishExport(report, pReport == nullptr) && pBitmap != nullptr;
}

bool CVideoSource::WriteBmpFile(const std::string& strPath, const BITMAPINFOHEADER& bitmap, ExportReport& report)
{
    int nError = 0;
    if (!WriteBmp(strPath, bitmap, nError)) {
        report.Fail(messages::kBmpWrite,
                    Format(messages::kBmpWrite.text, strPath.c_str(), static_cast<int>(GetCurrentPosition()),
                           DescribeSystemError(nError).c_str(), KeptFiles(report.nFramesWritten, "written").c_str()));
        return false;
    }
    ++report.nFramesWritten;
    report.files.push_back(strPath);
    return true;
}
