#include "source_step.h"

#include "video_source.h"

namespace kestro::bench {

void benchStepSource(benchmark::State& state, std::filesystem::path capture, bool bColour, std::int32_t frames)
{
    CVideoSource source;
    if (!source.Open(capture.string())) {
        state.SkipWithError("cannot open the capture");
        return;
    }
    source.m_bRaw = true;
    source.m_bRawColour = bColour;
    std::int32_t nNext = 0;
    for (auto _ : state) {
        source.GoToFrame(nNext);
        benchmark::DoNotOptimize(source.GetFrameBitmap());
        if (++nNext == frames)
            nNext = 0;
    }
    state.counters["frames/s"] = benchmark::Counter(1, benchmark::Counter::kIsIterationInvariantRate);
}

} // namespace kestro::bench
