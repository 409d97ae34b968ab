// kestro-quality-table: prints the validation table of docs/QUALITY.md: how well the sharpness
// score ranks captures of known blur. Usage: kestro-quality-table [FOLDER] (default: a new folder
// under /tmp, removed afterwards).
#include "quality_cases.h"

#include <cstdio>
#include <filesystem>
#include <random>

#ifndef KESTRO_SAMPLE
#define KESTRO_SAMPLE "kestro-sample"
#endif

int main(int argc, char** argv)
{
    namespace fs = std::filesystem;
    const bool own = argc < 2;
    const fs::path folder =
        own ? fs::temp_directory_path() / ("kestro-quality-" + std::to_string(std::random_device{}())) : argv[1];
    std::error_code ec;
    fs::create_directories(folder, ec);
    std::vector<kestro::validation::CaseResult> results;
    for (const auto& pattern : kestro::bayer::kPatterns)
        results.push_back(kestro::validation::PlanetSceneCase(pattern, folder.string()));
    results.push_back(kestro::validation::SampleCase(KESTRO_SAMPLE, folder.string()));
    results.push_back(kestro::validation::FfmpegCase(folder.string(), false));
    results.push_back(kestro::validation::FfmpegCase(folder.string(), true));
    std::printf("| Capture | Frames | Spearman | Best 10 %% | All in the sharpest 20 %% | Blurriest pick (sigma) |\n");
    std::printf("|---|---|---|---|---|---|\n");
    int failed = 0;
    for (const auto& r : results) {
        if (!r.error.empty()) {
            std::printf("| %s | – | not run: %s | | | |\n", r.name.c_str(), r.error.c_str());
            ++failed;
            continue;
        }
        const bool met = r.spearman >= 0.95 && r.picksInSharpest;
        failed += met ? 0 : 1;
        std::printf("| %s | %d | %.4f | %d | %s | %.2f px |\n", r.name.c_str(), r.frames, r.spearman, r.picks,
                    r.picksInSharpest ? "yes" : "no", r.worstPickSigma);
    }
    if (own)
        fs::remove_all(folder, ec);
    return failed == 0 ? 0 : 1;
}
