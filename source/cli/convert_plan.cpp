#include "convert_plan.h"

#include "bayer_pattern.h"
#include "export_frames.h"
#include "export_names.h"
#include "mosaic_detect.h"
#include "path_checks.h"

#include <algorithm>
#include <filesystem>

namespace kestro::cli {

namespace fs = std::filesystem;

namespace {

bool takesFrame(const ConvertOptions& o, std::int32_t frame) { return !o.frames || o.frames->contains(frame); }

// The engine's words for nothing taken speak of ticks in the frame list; here it is --frames, or
// a capture whose every frame was dropped, that leaves nothing.
std::string nothingTaken(const ConvertOptions& o, const CapturePlan& plan)
{
    std::string text = kestro::exports::messages::kNothingTaken.caption + std::string(": ");
    if (o.frames) {
        std::vector<std::int32_t> asked;
        for (std::int32_t i = 0; i < plan.sourceFrames; ++i)
            if (takesFrame(o, i))
                asked.push_back(i);
        text += asked.size() == 1 ? "the one frame --frames takes, " + rangesText(asked) +
                                        ", was dropped by the camera and holds no picture."
                                  : "every frame --frames takes (" + rangesText(asked) +
                                        ") was dropped by the camera and holds no picture.";
    } else {
        text += "every frame was dropped by the camera; none holds a picture.";
    }
    return text + "\nNothing was written.";
}

// --pattern auto: the detector's order, or the header's where the data agree with it on the green
// sites. Only the RAW modes use a pattern; there a capture whose green sites are not sure is
// refused rather than exported in colours that may be wrong.
void choosePattern(const ConvertOptions& o, const CVideoSource& source, CapturePlan& plan)
{
    using kestro::video::Certainty;
    const std::string file = fs::path(plan.capture).filename().string();
    const kestro::video::MosaicGuess guess = kestro::video::DetectMosaic(source);
    const std::optional<std::int32_t> code = source.GetHeaderPattern();
    const kestro::bayer::Pattern* stated = code ? &kestro::bayer::patternFromCode(*code) : nullptr;
    const kestro::bayer::Pattern* chosen = kestro::video::ChoosePattern(guess, stated);
    if (guess.diagonal != Certainty::Sure || !chosen) {
        if (o.mode != DisplayMode::Normal)
            plan.failure =
                "--pattern auto: the Bayer order of " + file + " cannot be told for sure: the data show " +
                kestro::video::DescribeGuess(guess) +
                (stated ? std::string("; without --pattern the file's own order, ") + stated->sensorName + ", is used"
                        : std::string("; give --pattern")) +
                "\nNothing was written.";
        return;
    }
    plan.pattern = chosen->code;
    plan.patternChoice = "--pattern auto: " + file + ": " + chosen->sensorName + " (the " + chosen->button +
                         " button): " +
                         (chosen == stated && guess.pattern != stated
                              ? std::string("as the file states; the data agree on the green sites (sure)")
                              : kestro::video::DescribeGuess(guess));
}

} // namespace

void applyDisplay(const ConvertOptions& o, CVideoSource& source, const CapturePlan* plan)
{
    source.m_bRaw = o.mode != DisplayMode::Normal;
    source.m_bRawColour = o.mode == DisplayMode::RawColour;
    source.m_bGreyscale = o.greyscale;
    source.SetByteOrder(o.byteOrder);
    // Without --pattern a SER capture keeps the pattern its header names, which opening it set.
    if (o.pattern)
        source.m_converter.SetPattern(*o.pattern);
    else if (plan && plan->pattern)
        source.m_converter.SetPattern(*plan->pattern);
    else if (!source.GetHeaderPattern())
        source.m_converter.SetPattern(kestro::bayer::kBG.code);
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
    if (o.patternAuto) {
        choosePattern(o, source, plan);
        applyDisplay(o, source, &plan);
    }
    plan.sourceFrames = source.GetFrameCount();
    plan.framePixels = std::int64_t{std::max(source.GetFrameWidth(), 0)} * std::max(source.GetFrameHeight(), 0);
    if (o.frames && outOfRange)
        *outOfRange = o.frames->outOfRange(plan.sourceFrames);

    // Beside the capture, or in the folder given; one capture to one AVI or SER file may name the
    // file itself.
    const bool outputIsFile = o.output && singleCapture && kestro::exports::WritesOneFile(o.target) &&
                              lookAt(*o.output).kind != PathKind::Folder && !o.output->ends_with('/');
    const fs::path folder = o.output ? fs::path(*o.output) : fs::path(capture).parent_path();
    const std::string stem = kestro::exports::SplitExtension(fs::path(capture).filename().string()).base;
    switch (o.target) {
    case Target::Avi:
        plan.enginePath =
            outputIsFile ? *o.output : (folder / (kestro::exports::ProposedSaveName(source) + ".avi")).string();
        break;
    case Target::Ser:
        plan.enginePath =
            outputIsFile ? *o.output : (folder / (kestro::exports::ProposedSaveName(source) + ".ser")).string();
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

std::string exportRefusal(const ConvertOptions& o, const CapturePlan& plan)
{
    CVideoSource source;
    if (!source.Open(plan.capture))
        return "it could not be opened";
    applyDisplay(o, source, &plan);
    ExportReport report;
    if (kestro::exports::CheckExport(source, {o.target, plan.enginePath, o.block, takenFrames(o, plan)}, report))
        return {};
    // Of the engine's refusals only "nothing taken" comes with no frame taken and this caption.
    if (plan.taken.empty() && report.failure &&
        report.failure->caption == kestro::exports::messages::kNothingTaken.caption)
        return nothingTaken(o, plan);
    const std::optional<kestro::ui::Message> m = DescribeExport(report);
    return m ? m->caption + ": " + m->text : "it cannot be exported";
}

void planFiles(const ConvertOptions& o, CapturePlan& plan)
{
    plan.files =
        kestro::exports::PlannedFiles(o.target, plan.enginePath, static_cast<std::int64_t>(plan.taken.size()), o.block);
}

std::string earlierSeriesWarning(const ConvertOptions& o, const CapturePlan& plan)
{
    const std::vector<std::string> left =
        kestro::exports::EarlierSeriesFiles(o.target, plan.enginePath, static_cast<std::int64_t>(plan.files.size()));
    if (left.empty())
        return {};
    const bool one = left.size() == 1;
    // "a … b, 15 files from an earlier export," and "a, from an earlier export," read alike.
    return "warning: " + kestro::exports::DescribeFiles(left) + (left.size() > 2 ? "" : ",") +
           " from an earlier export, " + (one ? "stays" : "stay") + " beside the new ones; remove " +
           (one ? "it" : "them") + " before stacking";
}

} // namespace kestro::cli
