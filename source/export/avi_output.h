// One AVI file being exported: its staged temporary file and the three handles the writer needs,
// released whatever way the export ends. Every failure is recorded in the export's report with
// the file, the frame and the reason.
#pragma once

#include "avi_handles.h"
#include "avi_write.h"
#include "export_report.h"
#include "staged_file.h"

#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace kestro::exports {

class CAviOutput {
public:
    explicit CAviOutput(std::string strTarget) : m_staged(std::move(strTarget)) {}

    const std::string& Target() const { return m_staged.target(); }

    // Creates the file and its stream of dwRate frames per second in the format of the bitmap.
    bool Open(DWORD dwRate, DWORD dwSuggestedBufferSize, const BITMAPINFOHEADER& format, ExportReport& report);
    // The bitmap as the frame at nPosition; nSourceFrame names it in a message.
    bool Write(LONG nPosition, const BITMAPINFOHEADER& bitmap, std::int32_t nSourceFrame, ExportReport& report);
    // Completes the file and releases its handles; then PutInPlace renames it over the target.
    bool Complete(ExportReport& report);
    bool PutInPlace(ExportReport& report);

private:
    // The source frame of the first sample a failed write lost, or nFallback when the writer
    // cannot tell: the buffer may hold several frames when the disk fills up.
    std::int32_t LostFrame(std::int32_t nFallback) const;

    // The source frame written at each position, to name the one a full disk lost.
    std::vector<std::int32_t> m_sourceFrames;
    // Destroyed last, after the handles: the file is closed before its temporary name goes.
    kestro::fileio::StagedFile m_staged;
    kestro::avi::FileHandle m_file;
    kestro::avi::StreamHandle m_plain;
    kestro::avi::StreamHandle m_compressed;
};

struct ExportRun;

// The ending of an export to AVI files that hold nWritten frames each. None is an export that
// failed: files without a frame would pass for one that worked. Every file is completed before
// any replaces its target, so that a full disk met by the last one leaves every earlier file as it
// was; files that were not put in place hold none of the frames.
void FinishAviOutputs(ExportRun& run, std::span<CAviOutput> outputs, LONG nWritten);

} // namespace kestro::exports
