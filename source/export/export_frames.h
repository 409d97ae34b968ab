// What every export engine shares: the checks before anything is written, the format that every
// written frame must have, and the walk over the frames.
#pragma once

#include "export_plan.h"
#include "export_report.h"
#include "video_source.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace kestro::exports {

// For the length of one export: the video source's messages are held for the report, and the
// frame that was current before is made current again at the end, so that the picture shown
// afterwards is still the one the user chose.
class CExportScope {
public:
    explicit CExportScope(CVideoSource& source);
    ~CExportScope();
    CExportScope(const CExportScope&) = delete;
    CExportScope& operator=(const CExportScope&) = delete;

    // The text of the last message the video source gave since the previous call, or empty.
    std::string TakeLastMessage();

private:
    CVideoSource& m_source;
    std::int32_t m_nCurrent;
    std::vector<kestro::ui::Message> m_held;
};

// The header and colour table of the first frame rendered, which fix the output's format. Every
// frame written must match it: a frame of another size would not fit the stream it goes into.
class CFrameFormat {
public:
    void Take(const BITMAPINFOHEADER& bitmap);
    bool Empty() const { return m_block.empty(); }
    const BITMAPINFOHEADER& Header() const { return *reinterpret_cast<const BITMAPINFOHEADER*>(m_block.data()); }
    bool Matches(const BITMAPINFOHEADER& bitmap) const;

private:
    std::vector<std::uint8_t> m_block;
};

// The name of the display mode in force, as the display bar calls it.
std::string DisplayModeName(const CVideoSource& source);

// What an export is asked to do: the kind of output, the path chosen (for FITS the folder and
// prefix), the block size of FITS sums, and which frames to take (none: every frame).
struct ExportRequest {
    ExportKind kind = ExportKind::Avi;
    std::string strPath;
    std::uint32_t nBlockSize = 1;
    FramePredicate pfnTake;
};

// Everything an export checks before it writes anything: a capture is open; the display mode can
// render it (in colour, for the RGB split); a FITS block size can be summed; some frame is taken;
// no file it would write is the capture itself or something other than a file; and some frame
// holds a picture, whose format it takes. False, with the reason in the report, when the export
// cannot go ahead; the plan then still lists what it would have written.
bool PrepareExport(CVideoSource& source, const ExportRequest& request, CExportScope& scope, ExportReport& report,
                   CFrameFormat& format, ExportPlan& plan);

// The same checks without an export after them, for a caller that asks first (--dry-run): true
// exactly when the export would go ahead.
bool CheckExport(CVideoSource& source, const ExportRequest& request, ExportReport& report, ExportPlan* pPlan = nullptr);

// One export under way, as an engine's body sees it once PrepareExport let it go ahead: the
// request, the held messages and restored frame, the report it fills, the format every written
// frame has, and the plan with the names of its outputs.
struct ExportRun {
    CVideoSource& source;
    const ExportRequest& request;
    const ProgressCallback& pfnStep;
    CExportScope& scope;
    ExportReport& report;
    const CFrameFormat& format;
    const ExportPlan& plan;

    // Calls pfnStep once per frame index and hands every frame that the request takes and that
    // holds data to sink(frame, bitmap) as the display mode renders it. A frame without a picture,
    // or with one of another format, is left out, recorded, and handed to leftOut(frame). The walk
    // ends early when the sink or leftOut returns false (it has recorded why) or when the display
    // mode changed under it.
    template <class Sink, class LeftOut> void ForEachFrame(Sink&& sink, LeftOut&& leftOut);
    template <class Sink> void ForEachFrame(Sink&& sink)
    {
        ForEachFrame(std::forward<Sink>(sink), [](std::int32_t) { return true; });
    }

    // Records that no output holds a frame although the plan took some: a file without a frame
    // would pass for an export that worked.
    void FailNothingWritten();
};

// What every engine does around its own work: makes the report fresh (the caller's, or one of
// its own whose message is shown at the end), holds the video source's messages and keeps its
// current frame for the length of the export, and runs body(run) only when the checks of
// PrepareExport let the export go ahead. Returns whether every frame was written.
template <class Body>
bool RunExport(CVideoSource& source, const ExportRequest& request, const ProgressCallback& pfnStep,
               ExportReport* pReport, Body&& body)
{
    ExportReport local;
    ExportReport& report = pReport ? *pReport : local;
    report = {};
    {
        CExportScope scope(source);
        CFrameFormat format;
        ExportPlan plan;
        if (PrepareExport(source, request, scope, report, format, plan)) {
            ExportRun run{source, request, pfnStep, scope, report, format, plan};
            body(run);
        }
    }
    return FinishExport(report, pReport == nullptr);
}

template <class Sink, class LeftOut> void ExportRun::ForEachFrame(Sink&& sink, LeftOut&& leftOut)
{
    const FramePredicate& pfnTake = request.pfnTake;
    const bool bRaw = source.m_bRaw;
    for (std::int32_t i = 0; i < source.GetFrameCount(); ++i) {
        if (source.StopRequested()) {
            report.Stop(i);
            return;
        }
        if (pfnStep)
            pfnStep();
        if (pfnTake && !pfnTake(i))
            continue;
        if (source.GoToFrame(i) != i)
            continue;
        const BITMAPINFOHEADER* pBitmap = source.GetFrameBitmap();
        if (source.m_bRaw != bRaw) {
            // The video source gave up the RAW mode (out of memory, say); the frames from here on
            // would not be those the user chose to export.
            const std::string why = scope.TakeLastMessage();
            report.Fail(messages::kModeLost, Format(messages::kModeLost.text, static_cast<int>(i), why.c_str()));
            return;
        }
        if (!pBitmap || !format.Matches(*pBitmap)) {
            report.LeaveOut(i, pBitmap ? std::string(messages::kOtherFormat) : scope.TakeLastMessage());
            if (!leftOut(i))
                return;
            continue;
        }
        if (!sink(i, *pBitmap))
            return;
    }
}

} // namespace kestro::exports
