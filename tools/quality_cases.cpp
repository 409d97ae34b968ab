#include "quality_cases.h"

#include "avi_handles.h"
#include "avifile.h"
#include "best_frames.h"
#include "frame_scorer.h"
#include "planet_scene.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace kestro::validation {

namespace {

constexpr int kFrames = 40;

// Scores every frame of a capture as --best does; the scores in frame order, or nothing.
std::vector<double> scoreCapture(const std::string& path, quality::ScoreSource source, std::string* error)
{
    quality::ScoreRequest request;
    request.path = path;
    request.source = source;
    const quality::ScoreOutcome outcome = quality::ScoreFrames(request);
    std::vector<double> scores;
    if (!outcome.error.empty() || outcome.unreadable > 0) {
        *error = outcome.error.empty() ? outcome.unreadableReason : outcome.error;
        return scores;
    }
    for (const quality::FrameScore& s : outcome.scores)
        scores.push_back(s.score);
    return scores;
}

CaseResult fromCapture(const std::string& name, const std::string& path, quality::ScoreSource source,
                       const std::vector<double>& sigmas)
{
    std::string error;
    const std::vector<double> scores = scoreCapture(path, source, &error);
    if (scores.size() != sigmas.size()) {
        CaseResult r;
        r.name = name;
        r.error = error.empty() ? path + ": not every frame was scored" : error;
        return r;
    }
    return Judge(name, sigmas, scores);
}

// The Y planes of a capture's frames, each width x height bytes.
std::vector<std::vector<std::uint8_t>> readPlanes(const std::string& path, int& width, int& height)
{
    std::vector<std::vector<std::uint8_t>> planes;
    const kestro::avi::Session session;
    kestro::avi::FileHandle file;
    kestro::avi::StreamHandle stream;
    if (AVIFileOpenA(file.out(), path.c_str(), OF_READ, nullptr) == AVIERR_OK &&
        AVIFileGetStream(file.get(), stream.out(), streamtypeVIDEO, 0) == AVIERR_OK) {
        AVISTREAMINFOA info{};
        AVIStreamInfoA(stream.get(), &info, sizeof info);
        width = info.rcFrame.right - info.rcFrame.left;
        height = info.rcFrame.bottom - info.rcFrame.top;
        const std::size_t plane = static_cast<std::size_t>(width) * static_cast<std::size_t>(height);
        std::vector<std::uint8_t> sample(plane * 3 / 2);
        for (LONG i = 0; i < AVIStreamLength(stream.get()); ++i) {
            LONG bytes = 0;
            if (AVIStreamRead(stream.get(), i, 1, sample.data(), static_cast<LONG>(sample.size()), &bytes, nullptr) ==
                    AVIERR_OK &&
                static_cast<std::size_t>(bytes) >= plane)
                planes.emplace_back(sample.begin(), sample.begin() + static_cast<std::ptrdiff_t>(plane));
        }
    }
    return planes;
}

std::string quote(const std::string& s) { return "'" + s + "'"; }

} // namespace

CaseResult Judge(const std::string& name, const std::vector<double>& sigmas, const std::vector<double>& scores)
{
    CaseResult r;
    r.name = name;
    r.frames = static_cast<int>(sigmas.size());
    std::vector<double> sharpness;
    std::vector<std::int32_t> frames;
    std::vector<quality::FrameScore> scored;
    for (std::size_t i = 0; i < sigmas.size(); ++i) {
        sharpness.push_back(-sigmas[i]);
        frames.push_back(static_cast<std::int32_t>(i));
        scored.push_back({static_cast<std::int32_t>(i), scores[i], true});
    }
    r.spearman = scene::Spearman(scores, sharpness);
    const std::vector<std::int32_t> picks =
        quality::ChooseBest(frames, scored, *quality::BestCount::Parse("10%", nullptr));
    std::vector<double> sorted = sigmas;
    std::sort(sorted.begin(), sorted.end());
    const std::size_t fifth = std::max<std::size_t>(1, sigmas.size() / 5);
    const double limit = sorted[fifth - 1];
    r.picks = static_cast<int>(picks.size());
    r.picksInSharpest = true;
    for (std::int32_t p : picks) {
        const double s = sigmas[static_cast<std::size_t>(p)];
        r.worstPickSigma = std::max(r.worstPickSigma, s);
        r.picksInSharpest = r.picksInSharpest && s <= limit;
    }
    return r;
}

CaseResult PlanetSceneCase(const kestro::bayer::Pattern& pattern, const std::string& folder)
{
    constexpr int w = 320, h = 240;
    const std::vector<scene::Seeing> seeings = scene::MakeSeeings(kFrames, 3.0, 0.3, 50.0, 17 + pattern.code);
    const std::string path = folder + "/planet-" + pattern.button + ".avi";
    std::vector<double> sigmas;
    for (const scene::Seeing& s : seeings)
        sigmas.push_back(s.sigma);
    const std::string name = std::string("planet_scene, pattern ") + pattern.button;
    if (!scene::WriteRawCapture(path, w, h, kFrames, [&](int i) {
            return scene::RenderMosaic(w, h, 55, pattern, seeings[static_cast<std::size_t>(i)], 100 + i);
        }))
        return {name, 0, 0, 0, false, 0, "cannot write " + path};
    return fromCapture(name, path, quality::ScoreSource::SensorPlane, sigmas);
}

CaseResult SampleCase(const std::string& sampleTool, const std::string& folder)
{
    const std::string name = "kestro-sample, site planes blurred";
    const std::string sharp = folder + "/sample.avi", blurred = folder + "/sample-blurred.avi";
    const std::string command = quote(sampleTool) + " --output " + quote(sharp) +
                                " --width 640 --height 480 --frames 40 --dropped none --pattern GR >/dev/null";
    int w = 0, h = 0;
    const auto planes =
        std::system(command.c_str()) == 0 ? readPlanes(sharp, w, h) : std::vector<std::vector<std::uint8_t>>{};
    if (planes.size() != static_cast<std::size_t>(kFrames))
        return {name, 0, 0, 0, false, 0, "kestro-sample did not write its capture (" + command + ")"};
    const std::vector<scene::Seeing> seeings = scene::MakeSeeings(kFrames, 3.0, 0.3, 0.0, 29);
    std::vector<double> sigmas;
    for (const scene::Seeing& s : seeings)
        sigmas.push_back(s.sigma);
    // kestro-sample's zones reach 235; at 0.75 of that level the frames 30 % brighter still stay
    // below 255, as an exposure set for the planet would keep them.
    constexpr double kLevel = 0.75;
    // Each of the four sites of a 2 x 2 block is a picture of half the size: blurring it by half
    // the sigma blurs the colour it samples by the sigma, in sensor pixels.
    const auto blurredFrame = [&](int i) {
        const scene::Seeing& s = seeings[static_cast<std::size_t>(i)];
        std::vector<std::uint8_t> out(planes[static_cast<std::size_t>(i)].size());
        const int hw = w / 2, hh = h / 2;
        for (int site = 0; site < 4; ++site) {
            const int ox = site % 2, oy = site / 2;
            std::vector<double> part(static_cast<std::size_t>(hw * hh));
            for (int y = 0; y < hh; ++y)
                for (int x = 0; x < hw; ++x)
                    part[static_cast<std::size_t>(y * hw + x)] =
                        planes[static_cast<std::size_t>(i)][static_cast<std::size_t>((2 * y + oy) * w + 2 * x + ox)];
            scene::GaussianBlur(part, hw, hh, s.sigma / 2, scene::Edge::Repeat);
            for (int y = 0; y < hh; ++y)
                for (int x = 0; x < hw; ++x)
                    out[static_cast<std::size_t>((2 * y + oy) * w + 2 * x + ox)] = static_cast<std::uint8_t>(std::clamp(
                        std::lround(kLevel * s.gain * part[static_cast<std::size_t>(y * hw + x)]), 0L, 255L));
        }
        return out;
    };
    if (!scene::WriteRawCapture(blurred, w, h, kFrames, blurredFrame))
        return {name, 0, 0, 0, false, 0, "cannot write " + blurred};
    return fromCapture(name, blurred, quality::ScoreSource::SensorPlane, sigmas);
}

CaseResult FfmpegCase(const std::string& folder, bool decoded)
{
    const std::string name =
        std::string("ffmpeg mandelbrot, gblur, raw I420 AVI, ") + (decoded ? "decoded frames" : "stored Y planes");
    const std::string picture = folder + "/mandelbrot.png", frames = folder + "/frames.yuv",
                      capture = folder + "/mandelbrot.avi";
    const std::vector<scene::Seeing> seeings = scene::MakeSeeings(kFrames, 3.0, 0.0, 0.0, 41);
    std::vector<double> sigmas;
    for (const scene::Seeing& s : seeings)
        sigmas.push_back(s.sigma);
    std::string commands = "ffmpeg -v error -y -f lavfi -i mandelbrot=size=640x480 -frames:v 1 " + quote(picture) +
                           " && rm -f " + quote(frames);
    for (const double sigma : sigmas) {
        char filter[64];
        std::snprintf(filter, sizeof filter, sigma > 0 ? "gblur=sigma=%.6f" : "null", sigma);
        commands += " && ffmpeg -v error -i " + quote(picture) + " -vf " + filter +
                    " -pix_fmt yuv420p -f rawvideo - >>" + quote(frames);
    }
    commands += " && ffmpeg -v error -y -f rawvideo -pix_fmt yuv420p -s 640x480 -r 25 -i " + quote(frames) +
                " -c:v rawvideo -pix_fmt yuv420p " + quote(capture);
    if (std::system(("{ " + commands + "; } 2>/dev/null").c_str()) != 0)
        return {name, 0, 0, 0, false, 0, "ffmpeg could not make the capture"};
    return fromCapture(name, capture, decoded ? quality::ScoreSource::Decoded : quality::ScoreSource::SensorPlane,
                       sigmas);
}

} // namespace kestro::validation
