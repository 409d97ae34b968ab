#include "convert_plan.h"

#include "export_frames.h"
#include "export_names.h"
#include "path_checks.h"

#include <algorithm>
#include <filesystem>

namespace kestro::cli {

namespace fs = std::filesystem;

namespace {

bool takesFrame(const ConvertOptions& o, std::int32_t frame) { return !o.frames || o.frames->contains(frame); }

} // namespace

void applyDisplay(const ConvertOptions& o, CVideoSource& source)
{
    source.m_bRaw = o.mode != DisplayMode::Normal;
    source.m_bRawColour = o.mode == DisplayMode::RawColour;
    source.m_bGreyscale = o.greyscale;
    source.m_converter.SetPattern(o.pattern);
    source.m_converter.SetAlgorithm(o.algorithm);
}

FramePredicate takenFrames(const ConvertOptions& o, const CapturePlan& plan)
{
    if (!o.frames && !plan.chosen)
        return {};
    return [&plan](std::int32_t i) { return std::binary_search(plan.taken.begin(), plan.taken.end(), i); };
}

CapturePlan planCapture(const ConvertOptions& o, const std::string& capture, bool singleCapture,
                        std::vector<std::string>* outOfRange)
{
    CapturePlan plan;
    plan.capture = capture;
    // Opening a FIFO waits for a writer, and a device may never end: they are told, not read.
    plan.failure = captureProblem(capture);
    if (!plan.failure.empty())
        return plan;
    CVideoSource source;
    if (!source.Open(capture)) {
        plan.failure = "it could not be opened";
        return plan;
    }
    plan.opened = true;
    applyDisplay(o, source);
    plan.sourceFrames = source.GetFrameCount();
    plan.framePixels = std::int64_t{std::max(source.GetFrameWidth(), 0)} * std::max(source.GetFrameHeight(), 0);
    if (o.frames && outOfRange)
        *outOfRange = o.frames->outOfRange(plan.sourceFrames);
    // A capture the RAW modes refuse (compressed, a width the de-mosaic cannot take) would be
    // scored from rows that are not a sensor plane, only for the export to refuse it afterwards:
    // with --best it is refused here, before any frame is scored, with the export's reason.
    if (o.best && o.mode != DisplayMode::Normal) {
        std::string why;
        if (!source.CanShowRaw(o.mode == DisplayMode::RawColour, &why))
            plan.failure = "it cannot be exported in " + kestro::exports::DisplayModeName(source) + ": " + why;
    }

    // Beside the capture, or in the folder given; one capture to one AVI may name the file itself.
    const bool outputIsFile = o.output && singleCapture && o.target == Target::Avi &&
                              lookAt(*o.output).kind != PathKind::Folder && !o.output->ends_with('/');
    const fs::path folder = o.output ? fs::path(*o.output) : fs::path(capture).parent_path();
    const std::string stem = kestro::exports::SplitExtension(fs::path(capture).filename().string()).base;
    switch (o.target) {
    case Target::Avi:
        plan.enginePath =
            outputIsFile ? *o.output : (folder / (kestro::exports::ProposedSaveName(source) + ".avi")).string();
        break;
    case Target::Bmp: plan.enginePath = (folder / (kestro::exports::ProposedSaveName(source) + ".bmp")).string(); break;
    case Target::Rgb: plan.enginePath = (folder / (kestro::exports::ProposedRgbName(source) + ".avi")).string(); break;
    // The window proposes the capture's name as the prefix and its folder.
    case Target::Fits: plan.enginePath = (folder / stem).string(); break;
    }
    // The engine's own plan: the frames it will take and the files they make.
    kestro::exports::ExportPlan planned = kestro::exports::PlanExport(
        source, o.target, plan.enginePath, o.block, [&o](std::int32_t i) { return takesFrame(o, i); });
    plan.taken = std::move(planned.frames);
    plan.files = std::move(planned.files);
    return plan;
}

void planFiles(const ConvertOptions& o, CapturePlan& plan)
{
    plan.files =
        kestro::exports::PlannedFiles(o.target, plan.enginePath, static_cast<std::int64_t>(plan.taken.size()), o.block);
}

} // namespace kestro::cli
