// kestro-convert: the window's exports from the command line, for one capture or a night's worth,
// on the same engines and with the same names, display modes, patterns and algorithms.
#include "best_choice.h"
#include "capture_info.h"
#include "convert_options.h"
#include "convert_plan.h"
#include "export_report.h"
#include "job_limit.h"
#include "list_text.h"
#include "message_box.h"
#include "output_checks.h"
#include "parallel_for.h"
#include "path_checks.h"
#include "progress_display.h"
#include "video_source.h"

#include <algorithm>
#include <atomic>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <set>
#include <string>
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
    std::string reason;             // why it failed or stopped, for its line of the summary
    std::vector<std::string> notes; // anything else said of the capture while it was worked on
    std::int32_t frames = 0;
};

std::string name(const std::string& path) { return fs::path(path).filename().string(); }

std::string said(const kestro::ui::Message& m) { return m.caption + ": " + m.text; }

// What the video source says while a capture is worked on is kept for that capture's lines of the
// summary, so that each cause is said once, beside the capture it concerns, and not again as the
// capture's reason. Each thread holds the messages of the capture it works on.
thread_local std::vector<kestro::ui::Message>* t_held = nullptr;

class HeldMessages {
public:
    HeldMessages() : m_previous(t_held) { t_held = &m_messages; }
    ~HeldMessages() { t_held = m_previous; }
    HeldMessages(const HeldMessages&) = delete;
    HeldMessages& operator=(const HeldMessages&) = delete;

    std::vector<std::string> lines() const
    {
        std::vector<std::string> lines;
        for (const kestro::ui::Message& m : m_messages)
            lines.push_back(said(m));
        return lines;
    }

private:
    std::vector<kestro::ui::Message> m_messages;
    std::vector<kestro::ui::Message>* m_previous;
};

// A capture's line with its reason; the reason's further lines, and the notes, indented below it.
std::string withDetails(const std::string& headline, const std::string& reason, const std::vector<std::string>& notes)
{
    std::string text = headline;
    std::string rest = reason;
    if (!reason.empty()) {
        const std::size_t end = reason.find('\n');
        text += ": " + reason.substr(0, end);
        rest = end == std::string::npos ? std::string() : reason.substr(end + 1);
    }
    std::vector<std::string> more;
    if (!rest.empty())
        more.push_back(rest);
    more.insert(more.end(), notes.begin(), notes.end());
    for (const std::string& block : more)
        for (std::size_t start = 0; start <= block.size();) {
            const std::size_t end = std::min(block.find('\n', start), block.size());
            if (end > start)
                text += "\n  " + block.substr(start, end - start);
            start = end + 1;
        }
    return text;
}

Result convert(const ConvertOptions& o, const CapturePlan& plan, ProgressDisplay& display)
{
    Result result;
    result.notes = plan.notes;
    HeldMessages held;
    CVideoSource source;
    // What opening says of a capture that opens (a SER file's corrected frame count, say) was
    // said when it was planned, and is among the plan's notes already.
    std::vector<std::string> opening;
    bool opened = false;
    {
        HeldMessages openingHeld;
        opened = source.Open(plan.capture);
        opening = openingHeld.lines();
    }
    if (!opened) {
        result.outcome = Outcome::Failed;
        const std::vector<std::string>& lines = opening;
        result.reason = lines.empty() ? "it could not be opened" : lines.front();
        result.notes.insert(result.notes.end(), lines.begin() + std::min<std::size_t>(lines.size(), 1), lines.end());
        return result;
    }
    applyDisplay(o, source, &plan);
    source.SetStopFlag(&g_stop);
    ProgressDisplay::Line& line = display.begin(name(plan.capture), plan.sourceFrames);
    // The plan's frames are those asked for that hold data, and of those the best with --best.
    const FramePredicate take = takenFrames(o, plan);
    const ProgressCallback step = [&line] { line.done.fetch_add(1, std::memory_order_relaxed); };
    ExportReport report;
    switch (o.target) {
    case Target::Avi: source.SaveFramesAsAvi(plan.enginePath, take, step, &report); break;
    case Target::Bmp: source.SaveFramesAsBmp(plan.enginePath, take, step, &report); break;
    case Target::Rgb: source.SaveRgbChannels(plan.enginePath, take, step, &report); break;
    case Target::Fits: source.SaveFitsBlocks(plan.enginePath, o.block, take, step, &report); break;
    case Target::Ser: source.SaveFramesAsSer(plan.enginePath, take, step, &report); break;
    }
    display.end(line);
    const std::vector<std::string> lines = held.lines();
    result.notes.insert(result.notes.end(), lines.begin(), lines.end());
    // Old files beside the new ones matter once there are new ones.
    if (!plan.earlierSeries.empty() && !report.files.empty())
        result.notes.push_back(plan.earlierSeries);
    result.frames = report.nFramesWritten;
    if (report.bStopped) {
        result.outcome = Outcome::Stopped;
        result.reason = "no unfinished file was left";
        return result;
    }
    // The engine's one message is the capture's reason in the summary, and is said there alone.
    if (const std::optional<kestro::ui::Message> m = DescribeExport(report))
        result.reason = said(*m);
    result.outcome = report.Complete() ? Outcome::Done : Outcome::Failed;
    // Frames left out for want of a score count against the capture as frames left out by the
    // export do: the user asked for the best of frames some of which were never looked at.
    if (!plan.unscored.empty()) {
        result.outcome = Outcome::Failed;
        result.reason += (result.reason.empty() ? "" : "\n") + plan.unscored;
    }
    return result;
}

std::string describeFiles(const CapturePlan& plan)
{
    if (plan.files.size() <= 3)
        return kestro::exports::ListFirst(plan.files, 3);
    return kestro::exports::FirstToLast(plan.files.front(), plan.files.back()) + " (" +
           std::to_string(plan.files.size()) + " files)";
}

// Each line of `lines` (each ending in a newline) on standard error, as the program's own.
void complain(const std::string& lines)
{
    for (std::size_t start = 0; start < lines.size();) {
        // The last line may come without its newline.
        const std::size_t end = std::min(lines.find('\n', start), lines.size());
        std::fprintf(stderr, "kestro-convert: %s\n", lines.substr(start, end - start).c_str());
        start = end + 1;
    }
}

// Tells of everything in the way of the planned outputs: a folder or a special file of an output's
// name always, a file only without --overwrite. True when anything is.
bool refuseInTheWay(const std::vector<CapturePlan>& plans, bool overwrite)
{
    const std::string lines = outputsInTheWay(plans, overwrite);
    if (lines.empty())
        return false;
    complain(lines);
    std::fprintf(stderr, "Nothing was written.\n");
    return true;
}

// Temporary files that an export killed before it finished left in an output folder: told once
// per folder, before anything is written, and left alone, since an export still running there may
// be writing them.
void tellLeftovers(const std::vector<CapturePlan>& plans, ProgressDisplay& display)
{
    constexpr std::size_t kNamed = 5;
    std::set<std::string> seen;
    for (const CapturePlan& plan : plans) {
        if (!plan.opened || !plan.failure.empty() || plan.files.empty())
            continue;
        const std::string folder = fs::path(plan.files.front()).parent_path().string();
        if (!seen.insert(pathKey(folder.empty() ? "." : folder)).second)
            continue;
        const std::vector<std::string> left = kestro::exports::LeftoverTemporaries(folder);
        if (left.empty())
            continue;
        const bool one = left.size() == 1;
        std::string text =
            "kestro-convert: " + (folder.empty() ? std::string("the current folder") : "the folder " + folder) +
            " holds " + (one ? "a temporary file" : std::to_string(left.size()) + " temporary files") +
            " of an export that was killed or is still running: ";
        std::vector<std::string> names;
        for (std::size_t k = 0; k < std::min(left.size(), kNamed); ++k)
            names.push_back(name(left[k]));
        text += kestro::exports::ListFirst(names, kNamed, left.size());
        text += one ? ". It is kept; remove it once no export is writing there."
                    : ". They are kept; remove them once no export is writing there.";
        display.message(text);
    }
}

// Says what each capture's export would write, or why it would not, as the real run would; the
// exit status is the real run's.
int dryRun(const ConvertOptions& o, const std::vector<CapturePlan>& plans, ProgressDisplay& display)
{
    bool allReady = true;
    for (const CapturePlan& plan : plans) {
        // Frames that could not be scored make the real run fail, so they make this one too.
        allReady = allReady && plan.opened && plan.failure.empty() && plan.unscored.empty();
        if (!plan.failure.empty()) {
            display.message(withDetails("FAILED: " + plan.capture, plan.failure, plan.notes));
            continue;
        }
        if (plan.chosen)
            std::printf("%s: %d of %d frames (best %s: %s) → %s\n", plan.capture.c_str(),
                        static_cast<int>(plan.taken.size()), static_cast<int>(plan.candidates), o.best->Text().c_str(),
                        rangesText(plan.taken).c_str(), describeFiles(plan).c_str());
        else
            std::printf("%s: %d frames → %s\n", plan.capture.c_str(), static_cast<int>(plan.taken.size()),
                        describeFiles(plan).c_str());
        if (!plan.earlierSeries.empty())
            std::printf("  %s\n", plan.earlierSeries.c_str());
        // Standard output and standard error may go to one log: each line in its place.
        std::fflush(stdout);
        if (!plan.unscored.empty())
            display.message(withDetails("FAILED: " + plan.capture, plan.unscored, plan.notes));
    }
    return allReady ? 0 : 1;
}

// Scores the frames of each capture for --best, up to --jobs captures side by side with the cores
// shared among them (all of them for one capture). Marks the captures whose scoring was stopped.
void scoreCaptures(const ConvertOptions& o, std::vector<CapturePlan>& plans, ProgressDisplay& display,
                   std::vector<Result>& results)
{
    const unsigned workers = kestro::parallel::threadsFor(plans.size(), std::max(1u, o.jobs));
    const unsigned threads = std::max(1u, usableCores() / workers);
    kestro::parallel::forEach(plans.size(), workers, [&](std::size_t i) {
        CapturePlan& plan = plans[i];
        if (!plan.opened || !plan.failure.empty() || g_stop.load())
            return;
        ProgressDisplay::Line& line =
            display.begin("scoring " + name(plan.capture), static_cast<std::int32_t>(plan.taken.size()),
                          ProgressDisplay::Style::Percent);
        const BestChoice choice = chooseBest(o, plan, threads, &g_stop, [&line](std::size_t done) {
            line.done.store(static_cast<std::int32_t>(done), std::memory_order_relaxed);
        });
        display.end(line);
        // Said in the summary, as the capture's reason, not here as well.
        plan.unscored = choice.unscored;
        if (choice.stopped)
            results[i] = {Outcome::Stopped, "while its frames were scored; nothing was written", {}, 0};
    });
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
            if (!o.quiet || !r.notes.empty())
                display.message(
                    withDetails("done: " + plans[i].capture + " → " + describeFiles(plans[i]), {}, r.notes));
            break;
        case Outcome::Failed:
            ++failed;
            display.message(withDetails("FAILED: " + plans[i].capture, r.reason, r.notes));
            break;
        case Outcome::Stopped:
            ++stopped;
            display.message(withDetails("stopped: " + plans[i].capture + " (" + r.reason + ")", {}, r.notes));
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

// What the engines and the video source say goes to standard error as "caption: text", or is held
// for the summary while a capture is worked on; nobody is there to answer, so every question gets
// the answer that changes nothing.
void routeMessages(ProgressDisplay& display)
{
    kestro::ui::setMessageHandler([&display](const kestro::ui::Message& m) {
        if (t_held)
            t_held->push_back(m);
        else
            display.message(said(m));
        return kestro::ui::cautiousAnswer(m.buttons);
    });
}

// The captures the inputs name, or the exit status when there are none to work on.
std::optional<int> findCaptures(const ConvertOptions& o, std::vector<std::string>& captures)
{
    std::string unreadable;
    captures = expandInputs(o.inputs, &unreadable);
    if (!unreadable.empty()) {
        std::fprintf(stderr, "kestro-convert: %s\n", unreadable.c_str());
        return 2;
    }
    if (captures.empty()) {
        std::fprintf(stderr, "kestro-convert: no *.avi or *.ser captures in the folders given\n");
        return 2;
    }
    if (const std::string problem = outputProblem(o, captures.size()); !problem.empty()) {
        std::fprintf(stderr, "kestro-convert: %s\n", problem.c_str());
        return 2;
    }
    return std::nullopt;
}

// Works out what each capture's export would take and write. A capture that would not open has
// the video source's message as its reason; frames --frames names beyond a capture's end are
// added to `usage`.
std::vector<CapturePlan> planCaptures(const ConvertOptions& o, const std::vector<std::string>& captures,
                                      std::string& usage)
{
    std::vector<CapturePlan> plans;
    for (const std::string& capture : captures) {
        std::vector<std::string> outside;
        HeldMessages held;
        plans.push_back(planCapture(o, capture, captures.size() == 1, &outside));
        CapturePlan& plan = plans.back();
        const std::vector<std::string> lines = held.lines();
        if (!plan.opened && !lines.empty())
            plan.failure = lines.front();
        plan.notes.assign(lines.begin() + (plan.opened || lines.empty() ? 0 : 1), lines.end());
        if (plan.opened && plan.failure.empty())
            plan.failure = outputNameProblem(plan);
        if (!outside.empty()) {
            std::string list;
            for (const std::string& f : outside)
                list += (list.empty() ? "" : ", ") + f;
            usage += "--frames: " + capture + " has " + std::to_string(plan.sourceFrames) + " frames (0 to " +
                     std::to_string(plan.sourceFrames - 1) + "), not " + list + "\n";
        }
    }
    return plans;
}

// A frame list a capture cannot meet and two captures writing one file are usage errors; an
// export writing over a capture stops the run as well. Gives the exit status then.
std::optional<int> refuseClashes(const std::vector<CapturePlan>& plans, std::string usage)
{
    const OutputConflicts conflicts = outputConflicts(plans);
    usage += conflicts.clashes;
    if (!usage.empty()) {
        complain(usage);
        return 2;
    }
    if (!conflicts.overCaptures.empty()) {
        complain(conflicts.overCaptures);
        std::fprintf(stderr, "Nothing was written.\n");
        return 1;
    }
    return std::nullopt;
}

// Jobs beyond the cores only wait for each other, and jobs beyond the memory free push the
// machine into swap: the largest capture sets what each job may need.
void lowerJobs(ConvertOptions& o, const std::vector<CapturePlan>& plans, ProgressDisplay& display)
{
    std::int64_t largest = 0;
    std::size_t exportable = 0;
    for (const CapturePlan& plan : plans)
        if (plan.opened && plan.failure.empty()) {
            largest = std::max(largest, plan.framePixels);
            ++exportable;
        }
    const JobLimit limit =
        limitJobs(o.jobs, o.jobsGiven, exportable, usableCores(), availableMemory(), memoryPerJob(largest));
    if (!limit.lowered.empty())
        display.message("kestro-convert: " + limit.lowered);
    o.jobs = limit.jobs;
}

// What the engine would refuse is refused now, by the engine's own checks and in its words, before
// any frame is scored.
void askEngines(const ConvertOptions& o, std::vector<CapturePlan>& plans)
{
    for (CapturePlan& plan : plans) {
        if (!plan.opened || !plan.failure.empty())
            continue;
        HeldMessages held;
        plan.failure = exportRefusal(o, plan);
        // The capture would not open again: the video source's words say why.
        if (const std::vector<std::string> lines = held.lines(); !lines.empty() && !plan.failure.empty())
            plan.failure = lines.front();
    }
}

void warnOfEarlierSeries(const ConvertOptions& o, std::vector<CapturePlan>& plans)
{
    for (CapturePlan& plan : plans)
        if (plan.opened && plan.failure.empty())
            plan.earlierSeries = earlierSeriesWarning(o, plan);
}

// An output folder that does not exist yet is made, as a night's sums usually go to a new one.
// False, said, when it cannot be.
bool makeOutputFolder(const ConvertOptions& o, const std::vector<CapturePlan>& plans)
{
    if (!o.output ||
        (plans.size() == 1 && kestro::exports::WritesOneFile(o.target) && plans.front().enginePath == *o.output))
        return true;
    std::error_code ec;
    fs::create_directories(*o.output, ec);
    if (!ec)
        return true;
    std::fprintf(stderr, "kestro-convert: cannot make the folder %s: %s\nNothing was written.\n", o.output->c_str(),
                 kestro::exports::DescribeSystemError(ec.value()).c_str());
    return false;
}

// Exports the captures not already failed or stopped, up to --jobs side by side.
void exportCaptures(const ConvertOptions& o, const std::vector<CapturePlan>& plans, ProgressDisplay& display,
                    std::vector<Result>& results)
{
    for (std::size_t i = 0; i < plans.size(); ++i)
        if (!plans[i].failure.empty() && results[i].outcome == Outcome::NotStarted)
            results[i] = {Outcome::Failed, plans[i].failure, plans[i].notes, 0};
    kestro::parallel::forEach(plans.size(), std::max(1u, o.jobs), [&](std::size_t i) {
        if (results[i].outcome == Outcome::NotStarted && !g_stop.load())
            results[i] = convert(o, plans[i], display);
    });
}

} // namespace

int main(int argc, char** argv)
{
    ConvertOptions o;
    if (const std::optional<int> status = parseCommandLine(argc, argv, o))
        return *status;
    ProgressDisplay display(!o.quiet && ::isatty(STDERR_FILENO) != 0);
    routeMessages(display);

    // Everything is worked out before anything is written: what stands in the way stops the run here.
    std::vector<std::string> captures;
    if (const std::optional<int> status = findCaptures(o, captures))
        return *status;
    if (o.info)
        return printInfo(o, captures);
    std::string usage;
    std::vector<CapturePlan> plans = planCaptures(o, captures, usage);
    if (!o.quiet)
        for (const CapturePlan& plan : plans)
            if (!plan.patternChoice.empty())
                display.message(plan.patternChoice);
    if (const std::optional<int> status = refuseClashes(plans, usage))
        return *status;
    lowerJobs(o, plans, display);

    catchInterrupts();
    std::vector<Result> results(plans.size());
    // From here to the first write the dry run and the real run go the same way, so that the dry
    // run refuses what the real run would, with the same words and exit status.
    // An AVI or SER file or the RGB files are named whatever --best keeps, so what is in their way
    // is told before the frames are scored; a series is named only once they are.
    const bool namesKnown = !o.best || kestro::exports::WritesOneFile(o.target) || o.target == Target::Rgb;
    if (namesKnown && refuseInTheWay(plans, o.overwrite))
        return 1;
    askEngines(o, plans);
    if (o.best) {
        scoreCaptures(o, plans, display, results);
        if (g_stop.load())
            return summarise(o, plans, results, display);
    }
    if (!namesKnown && refuseInTheWay(plans, o.overwrite))
        return 1;
    tellLeftovers(plans, display);
    warnOfEarlierSeries(o, plans);
    if (o.dryRun)
        return dryRun(o, plans, display);

    if (!makeOutputFolder(o, plans))
        return 1;
    exportCaptures(o, plans, display, results);
    return summarise(o, plans, results, display);
}
