#include "convert_plan.h"

#include "export_frames.h"
#include "export_names.h"
#include "path_checks.h"
#include "video_source.h"

#include <algorithm>
#include <filesystem>

namespace kestro::cli {

namespace fs = std::filesystem;

void applyDisplay(const ConvertOptions& o, CVideoSource& source)
{
    source.m_bRaw = o.mode != DisplayMode::Normal;
    source.m_bRawColour = o.mode == DisplayMode::RawColour;
    source.m_bGreyscale = o.greyscale;
    source.m_converter.SetPattern(o.pattern);
    source.m_converter.SetAlgorithm(o.algorithm);
}

bool takesFrame(const ConvertOptions& o, std::int32_t frame) { return !o.frames || o.frames->contains(frame); }

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
    for (std::int32_t i = 0; i < plan.sourceFrames; ++i)
        if (takesFrame(o, i) && source.FindDataFrame(i) == i)
            plan.taken.push_back(i);
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
    listOutputs(o, plan);
    return plan;
}

void listOutputs(const ConvertOptions& o, CapturePlan& plan)
{
    const std::int64_t taken = static_cast<std::int64_t>(plan.taken.size());
    const auto parts = kestro::exports::SplitExtension(plan.enginePath);
    plan.files.clear();
    switch (o.target) {
    case Target::Avi: plan.files = {plan.enginePath}; break;
    case Target::Bmp:
        for (std::int64_t k = 0; k < taken; ++k)
            plan.files.push_back(kestro::exports::NumberedName(parts, static_cast<std::int32_t>(k)));
        break;
    case Target::Rgb:
        for (int c = 0; c < 3; ++c)
            plan.files.push_back(kestro::exports::RgbChannelFile(plan.enginePath, c));
        break;
    case Target::Fits:
        for (std::int64_t k = 0; k < (taken + o.block - 1) / o.block; ++k)
            plan.files.push_back(kestro::exports::NumberedName(parts, static_cast<std::int32_t>(k)) + ".fit");
        break;
    }
}

} // namespace kestro::cli
