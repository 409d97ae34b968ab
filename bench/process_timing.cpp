#include "process_timing.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include <fcntl.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace kestro::bench {

using Clock = std::chrono::steady_clock;

double median(std::vector<double> v)
{
    if (v.empty())
        return 0.0;
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : 0.5 * (v[n / 2 - 1] + v[n / 2]);
}

// posix_spawn rather than std::system: a shell in between would add its own start-up to
// both sides and blur the ratio.
std::optional<ProcessTime> timeProcess(const std::vector<std::string>& args)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, "/dev/null", O_WRONLY, 0);
    pid_t pid = 0;
    const auto t0 = Clock::now();
    const int rc = posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (rc != 0)
        return std::nullopt;
    int status = 0;
    rusage usage{};
    if (wait4(pid, &status, 0, &usage) != pid)
        return std::nullopt;
    const auto t1 = Clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return std::nullopt;
    auto seconds = [](const timeval& tv) {
        return static_cast<double>(tv.tv_sec) + 1e-6 * static_cast<double>(tv.tv_usec);
    };
    return ProcessTime{std::chrono::duration<double>(t1 - t0).count(),
                       seconds(usage.ru_utime) + seconds(usage.ru_stime), usage.ru_maxrss};
}

ProcessTime medianOf(const std::vector<ProcessTime>& v)
{
    std::vector<double> wall, cpu;
    for (const auto& t : v) {
        wall.push_back(t.wall);
        cpu.push_back(t.cpu);
    }
    return {median(wall), median(cpu)};
}

std::vector<ProcessTime> timeInterleaved(const std::vector<std::vector<std::string>>& commands, int runs)
{
    std::vector<std::vector<ProcessTime>> samples(commands.size());
    std::vector<bool> failed(commands.size(), false);
    for (int round = -1; round < runs; ++round) {
        for (std::size_t c = 0; c < commands.size(); ++c) {
            if (failed[c])
                continue;
            const auto t = timeProcess(commands[c]);
            if (!t) {
                std::fprintf(stderr, "avifile_bench: %s failed\n", commands[c][0].c_str());
                failed[c] = true;
            } else if (round >= 0) {
                samples[c].push_back(*t);
            }
        }
    }
    std::vector<ProcessTime> medians;
    for (std::size_t c = 0; c < commands.size(); ++c)
        medians.push_back(failed[c] ? ProcessTime{} : medianOf(samples[c]));
    return medians;
}

std::string captureOutput(const std::string& command)
{
    std::string out;
    if (FILE* p = popen(command.c_str(), "r")) {
        char buf[256];
        while (std::fgets(buf, sizeof buf, p))
            out += buf;
        pclose(p);
    }
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r'))
        out.pop_back();
    return out;
}

std::string shellQuote(const std::string& s)
{
    std::string q = "'";
    for (char c : s)
        q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

} // namespace kestro::bench
