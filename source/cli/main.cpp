// kestro-convert: the window's exports from the command line, for one capture or a night's worth,
// on the same engines and with the same names, display modes, patterns and algorithms.
#include "best_choice.h"
#include "convert_options.h"
#include "convert_plan.h"
#include "export_report.h"
#include "message_box.h"
#include "progress_display.h"
#include "video_source.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <map>
#include <thread>
#include <vector>

#include <unistd.h>

namespace {

using namespace kestro::cli;
namespace fs = std::filesystem;

// Set by Ctrl+C (or SIGTERM): the scoring or the exports running stop at their next frame, leaving
// no unfinished file, and no further capture is started.
std::atomic<bool> g_stop{false};
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

extern "C" void onInterrupt(int) { g_stop.store(true); }

void catchInterrupts()
{
    struct sigaction action {};
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    // A second Ctrl+C ends the program at once, for an export that would not stop.
    action.sa_flags = SA_RESETHAND;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

enum class Outcome { NotStarted, Done, Failed, Stopped };

struct Result {
    Outcome outcome = Outcome::NotStarted;
    std::string reason;
    std::int32_t frames = 0;
};

std::string name(const std::string& path) { return fs::path(path).filename().string(); }

std::string firstLine(const std::string& text) { return text.substr(0, text.find('\n')); }

Result convert(const ConvertOptions& o, const CapturePlan& plan, ProgressDisplay& display)
{
    Result result;
    CVideoSource source;
    if (!source.Open(plan.capture)) {
        result.outcome = Outcome::Failed;
        result.reason = "it could not be opened";
        return result;
    }
    applyDisplay(o, source);
    source.SetStopFlag(&g_stop);
    ProgressDisplay::Line& line = display.begin(name(plan.capture), plan.sourceFrames);
    // The plan's frames are those asked for that hold data, and of those the best with --best.
    const FramePredicate take = o.frames || plan.chosen ? FramePredicate([&plan](std::int32_t i) {
        return std::binary_search(plan.taken.begin(), plan.taken.end(), i);
    })
                                                        : FramePredicate();
    const ProgressCallback step = [&line] { line.done.fetch_add(1, std::memory_order_relaxed); };
    ExportReport report;
    switch (o.target) {
    case Target::Avi: source.SaveFramesAsAvi(plan.enginePath, take, step, &report); break;
    case Target::Bmp: source.SaveFramesAsBmp(plan.enginePath, take, step, &report); break;
    case Target::Rgb: source.SaveRgbChannels(plan.enginePath, take, step, &report); break;
    case Target::Fits: source.SaveFitsBlocks(plan.enginePath, o.block, take, step, &report); break;
    }
    display.end(line);
    result.frames = report.nFramesWritten;
    if (report.bStopped) {
        result.outcome = Outcome::Stopped;
        result.reason = "no unfinished file was left";
        return result;
    }
    if (const std::optional<kestro::ui::Message> m = DescribeExport(report)) {
        display.message(m->caption + ": " + m->text);
        result.reason = firstLine(m->text);
    }
    result.outcome = report.Complete() ? Outcome::Done : Outcome::Failed;
    // Frames left out for want of a score count against the capture as frames left out by the
    // export do: the user asked for the best of frames some of which were never looked at.
    if (result.outcome == Outcome::Done && !plan.unscored.empty()) {
        result.outcome = Outcome::Failed;
        result.reason = plan.unscored;
    }
    return result;
}

std::string describeFiles(const CapturePlan& plan)
{
    if (plan.files.empty())
        return "nothing (no frame is taken)";
    if (plan.files.size() <= 3) {
        std::string list;
        for (const std::string& f : plan.files)
            list += (list.empty() ? "" : ", ") + f;
        return list;
    }
    return plan.files.front() + " … " + plan.files.back() + " (" + std::to_string(plan.files.size()) + " files)";
}

// Scores the frames of each capture for --best, up to --jobs captures side by side with the cores
// shared among them (all of them for one capture). Marks the captures whose scoring was stopped.
// Tells of every planned output that exists already; true when there is one.
bool refuseExisting(const std::vector<CapturePlan>& plans)
{
    std::string existing;
    for (const CapturePlan& plan : plans)
        for (const std::string& file : plan.files)
            if (std::error_code ec; fs::exists(file, ec))
                existing += "kestro-convert: " + file + " exists; --overwrite replaces it\n";
    if (existing.empty())
        return false;
    std::fprintf(stderr, "%sNothing was written.\n", existing.c_str());
    return true;
}

void scoreCaptures(const ConvertOptions& o, std::vector<CapturePlan>& plans, ProgressDisplay& display,
                   std::vector<Result>& results)
{
    const unsigned workers = std::max(1u, std::min<unsigned>(o.jobs, static_cast<unsigned>(plans.size())));
    const unsigned threads = std::max(1u, std::max(1u, std::thread::hardware_concurrency()) / workers);
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < plans.size();) {
            CapturePlan& plan = plans[i];
            if (!plan.opened || !plan.failure.empty() || g_stop.load())
                continue;
            ProgressDisplay::Line& line =
                display.begin("scoring " + name(plan.capture), static_cast<std::int32_t>(plan.taken.size()),
                              ProgressDisplay::Style::Percent);
            const BestChoice choice = chooseBest(o, plan, threads, &g_stop, [&line](std::size_t done) {
                line.done.store(static_cast<std::int32_t>(done), std::memory_order_relaxed);
            });
            display.end(line);
            plan.unscored = choice.unscored;
            if (!plan.unscored.empty())
                display.message("Frames not scored: " + plan.capture + ": " + plan.unscored);
            if (choice.stopped)
                results[i] = {Outcome::Stopped, "while its frames were scored; nothing was written", 0};
        }
    };
    std::vector<std::thread> others;
    for (unsigned t = 1; t < workers; ++t)
        others.emplace_back(worker);
    worker();
    for (std::thread& t : others)
        t.join();
}

// Says how each capture went and gives the exit status.
int summarise(const ConvertOptions& o, const std::vector<CapturePlan>& plans, const std::vector<Result>& results,
              ProgressDisplay& display)
{
    int done = 0, failed = 0, stopped = 0, notStarted = 0;
    for (std::size_t i = 0; i < plans.size(); ++i) {
        const Result& r = results[i];
        switch (r.outcome) {
        case Outcome::Done:
            ++done;
            if (!o.quiet)
                display.message("done: " + plans[i].capture + " → " + describeFiles(plans[i]));
            break;
        case Outcome::Failed:
            ++failed;
            display.message("FAILED: " + plans[i].capture + ": " + r.reason);
            break;
        case Outcome::Stopped:
            ++stopped;
            display.message("stopped: " + plans[i].capture + " (" + r.reason + ")");
            break;
        case Outcome::NotStarted: ++notStarted; break;
        }
    }
    if (!o.quiet || failed + stopped > 0) {
        std::string summary = std::to_string(done) + " of " + std::to_string(plans.size()) + " captures exported";
        if (failed > 0)
            summary += ", " + std::to_string(failed) + " failed";
        if (stopped + notStarted > 0)
            summary += "; stopped by an interrupt, " + std::to_string(notStarted) + " not started";
        display.message(summary);
    }
    if (g_stop.load())
        return 130;
    return failed > 0 ? 1 : 0;
}

} // namespace

int main(int argc, char** argv)
{
    ConvertOptions o;
    if (const std::optional<int> status = parseCommandLine(argc, argv, o))
        return *status;

    ProgressDisplay display(!o.quiet && ::isatty(STDERR_FILENO) != 0);
    // What the engines and the video source say goes to standard error as "caption: text";
    // nobody is there to answer, so every question gets the answer that changes nothing.
    kestro::ui::setMessageHandler([&display](const kestro::ui::Message& m) {
        display.message(m.caption + ": " + m.text);
        return kestro::ui::cautiousAnswer(m.buttons);
    });

    const std::vector<std::string> captures = expandInputs(o.inputs);
    if (captures.empty()) {
        std::fprintf(stderr, "kestro-convert: no *.avi captures in the folders given\n");
        return 2;
    }

    // Everything is worked out before anything is written: a frame list a capture cannot meet,
    // two captures writing one file, or an output that exists stop the run here.
    std::vector<CapturePlan> plans;
    std::string usage;
    std::map<std::string, std::string> writers;
    for (const std::string& capture : captures) {
        std::vector<std::string> outside;
        plans.push_back(planCapture(o, capture, captures.size() == 1, &outside));
        const CapturePlan& plan = plans.back();
        if (!outside.empty()) {
            std::string list;
            for (const std::string& f : outside)
                list += (list.empty() ? "" : ", ") + f;
            usage += "--frames: " + capture + " has " + std::to_string(plan.sourceFrames) + " frames (0 to " +
                     std::to_string(plan.sourceFrames - 1) + "), not " + list + "\n";
        }
        for (const std::string& file : plan.files) {
            const auto [it, fresh] = writers.try_emplace(fs::weakly_canonical(file).string(), capture);
            if (!fresh)
                usage += it->second + " and " + capture + " would both write " + file + "; give them other folders\n";
        }
    }
    if (!usage.empty()) {
        std::fprintf(stderr, "kestro-convert: %s", usage.c_str());
        return 2;
    }
    catchInterrupts();
    std::vector<Result> results(plans.size());
    // An AVI or the RGB files are named whatever --best keeps, so an output in the way is told
    // before the frames are scored, not after.
    const bool namesKnown = o.target == Target::Avi || o.target == Target::Rgb;
    if (o.best && namesKnown && !o.overwrite && !o.dryRun && refuseExisting(plans))
        return 1;
    if (o.best) {
        scoreCaptures(o, plans, display, results);
        if (g_stop.load())
            return summarise(o, plans, results, display);
    }
    if (!o.overwrite && !o.dryRun && refuseExisting(plans))
        return 1;
    if (o.dryRun) {
        bool allReady = true;
        for (const CapturePlan& plan : plans) {
            // Frames that could not be scored make the real run fail, so they make this one too.
            allReady = allReady && plan.opened && plan.failure.empty() && plan.unscored.empty();
            if (!plan.failure.empty())
                display.message("FAILED: " + plan.capture + ": " + plan.failure);
            else if (plan.chosen)
                std::printf("%s: %d of %d frames (best %s: %s) → %s\n", plan.capture.c_str(),
                            static_cast<int>(plan.taken.size()), static_cast<int>(plan.candidates),
                            o.best->Text().c_str(), rangesText(plan.taken).c_str(), describeFiles(plan).c_str());
            else if (plan.opened)
                std::printf("%s: %d frames → %s\n", plan.capture.c_str(), static_cast<int>(plan.taken.size()),
                            describeFiles(plan).c_str());
        }
        return allReady ? 0 : 1;
    }

    // An output folder that does not exist yet is made, as a night's sums usually go to a new one.
    if (o.output && !(captures.size() == 1 && o.target == Target::Avi && plans.front().enginePath == *o.output)) {
        std::error_code ec;
        fs::create_directories(*o.output, ec);
        if (ec) {
            std::fprintf(stderr, "kestro-convert: cannot make the folder %s: %s\nNothing was written.\n",
                         o.output->c_str(), ec.message().c_str());
            return 1;
        }
    }

    for (std::size_t i = 0; i < plans.size(); ++i)
        if (!plans[i].opened)
            results[i] = {Outcome::Failed, "it could not be opened", 0};
        else if (!plans[i].failure.empty())
            results[i] = {Outcome::Failed, plans[i].failure, 0};
    std::atomic<std::size_t> next{0};
    auto worker = [&] {
        for (std::size_t i; (i = next.fetch_add(1)) < plans.size();) {
            if (results[i].outcome == Outcome::NotStarted && !g_stop.load())
                results[i] = convert(o, plans[i], display);
        }
    };
    const unsigned workers = std::max(1u, std::min<unsigned>(o.jobs, static_cast<unsigned>(plans.size())));
    std::vector<std::thread> threads;
    for (unsigned t = 1; t < workers; ++t)
        threads.emplace_back(worker);
    worker();
    for (std::thread& t : threads)
        t.join();
    return summarise(o, plans, results, display);
}
