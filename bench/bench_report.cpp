#include "bench_report.h"

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <unistd.h>

namespace kestro::bench {

namespace fs = std::filesystem;

void CollectingReporter::ReportRuns(const std::vector<Run>& reports)
{
    for (const Run& r : reports) {
        if (r.error_occurred)
            m_errors.push_back(r.benchmark_name() + ": " + r.error_message);
        if (r.run_type != Run::RT_Iteration || r.error_occurred || r.iterations <= 0)
            continue;
        const double n = static_cast<double>(r.iterations);
        const auto child = r.counters.find(kChildCpuCounter);
        const double cpu = child != r.counters.end() ? child->second.value / 1e3 : r.cpu_accumulated_time / n;
        m_samples[r.run_name.function_name].push_back({r.real_accumulated_time / n, cpu});
    }
    ConsoleReporter::ReportRuns(reports);
}

const std::vector<CollectingReporter::Sample>* CollectingReporter::samples(const std::string& name) const
{
    const auto it = m_samples.find(name);
    return it == m_samples.end() ? nullptr : &it->second;
}

ProcessTime CollectingReporter::median(const std::string& name) const
{
    std::vector<ProcessTime> v;
    if (const auto* s = samples(name))
        for (const Sample& x : *s)
            v.push_back({x.wall, x.cpu});
    return v.empty() ? ProcessTime{} : medianOf(v);
}

void runPeer(benchmark::State& state, const std::vector<std::string>& args)
{
    double cpu = 0;
    for (auto _ : state) {
        const auto t = timeProcess(args);
        if (!t) {
            state.SkipWithError((args[0] + " failed").c_str());
            break;
        }
        state.SetIterationTime(t->wall);
        cpu += t->cpu;
    }
    state.counters[CollectingReporter::kChildCpuCounter] =
        benchmark::Counter(cpu * 1e3, benchmark::Counter::kAvgIterations);
}

FixtureDir::~FixtureDir()
{
    std::error_code ec;
    if (m_temporary)
        fs::remove_all(m_path, ec);
}

bool FixtureDir::prepare(const fs::path& given, const char* program)
{
    m_path = given;
    if (m_path.empty()) {
        if (const char* env = std::getenv("KESTRO_BENCH_DIR"); env && *env) {
            m_path = env;
        } else {
            std::string tmpl = (fs::temp_directory_path() / "kestro-bench.XXXXXX").string();
            if (!mkdtemp(tmpl.data())) {
                std::fprintf(stderr, "%s: cannot make a temporary folder\n", program);
                return false;
            }
            m_path = tmpl;
            m_temporary = true;
        }
    }
    std::error_code ec;
    fs::create_directories(m_path, ec);
    if (ec) {
        std::fprintf(stderr, "%s: cannot make %s: %s\n", program, m_path.c_str(), ec.message().c_str());
        return false;
    }
    return true;
}

bool initialiseBenchmark(int argc, char** argv, const std::map<std::string, std::string*>& values, int repetitions)
{
    static std::string interleave = "--benchmark_enable_random_interleaving=true";
    static std::string repeat;
    std::vector<char*> rest{argv[0], interleave.data()};
    if (repetitions > 0) {
        repeat = "--benchmark_repetitions=" + std::to_string(repetitions);
        rest.push_back(repeat.data());
    }
    for (int i = 1; i < argc; ++i) {
        const auto it = values.find(argv[i]);
        if (it != values.end() && i + 1 < argc)
            *it->second = argv[++i];
        else
            rest.push_back(argv[i]);
    }
    int restCount = static_cast<int>(rest.size());
    benchmark::Initialize(&restCount, rest.data());
    return !benchmark::ReportUnrecognizedArguments(restCount, rest.data());
}

bool writeSample(const fs::path& path, const std::string& sampleTool, const std::vector<std::string>& args)
{
    const fs::path part = path.string() + ".part";
    std::string command = shellQuote(sampleTool) + " --output " + shellQuote(part.string());
    for (const auto& a : args)
        command += " " + shellQuote(a);
    std::error_code ec;
    if (std::system(command.c_str()) != 0) {
        fs::remove(part, ec);
        return false;
    }
    fs::rename(part, path, ec);
    return !ec;
}

bool warmPageCache(const std::filesystem::path& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    ::fdatasync(fd);
    ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
    std::vector<char> buffer(1 << 20);
    ssize_t got;
    while ((got = ::read(fd, buffer.data(), buffer.size())) > 0) {}
    ::close(fd);
    return got == 0;
}

std::string fmt(const char* format, double v)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, format, v);
    return buf;
}

const char* yesNo(bool met) { return met ? "yes" : "**no**"; }

void printTable(const std::vector<Row>& rows)
{
    std::printf("\n| Measurement | Kestro | Peer | Ratio | Goal | Met? |\n|---|---|---|---|---|---|\n");
    for (const Row& r : rows)
        std::printf("| %s | %s | %s | %s | %s | %s |\n", r.what.c_str(), r.ours.c_str(), r.peer.c_str(),
                    r.ratio.c_str(), r.goal.c_str(), r.met.c_str());
}

std::string frameRate(const ProcessTime& t)
{
    return fmt("%.0f frames/s", 1.0 / t.wall) + fmt(" (CPU %.2f ms a frame)", t.cpu * 1e3);
}

} // namespace kestro::bench
