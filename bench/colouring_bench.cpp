// Colouring costs: the per-line colouring that the view runs for the lines it paints, against
// the pass over a whole 100 MB log, with the default profile's labels.

#include "search/colourrules.h"
#include "format/formatfile.h"
#include "measures.h"

#include <benchmark/benchmark.h>

#include <random>
#include <string>
#include <vector>

namespace {

// Timestamped lines of 60 to 200 bytes, about one in twenty with an error word.
std::string generatedLog(std::size_t bytes)
{
    std::mt19937 random(42);
    const char* words[] = {"request", "served", "user", "session", "cache", "disk", "queue",
                           "worker", "Started", "txt", "timeout", "retry", "ok", "payload"};
    std::string text;
    text.reserve(bytes + 256);
    long long n = 0;
    while (text.size() < bytes) {
        const std::size_t start = text.size();
        text += "2026-12-07 10:" + std::to_string(n / 60 % 60) + ":" + std::to_string(n % 60) +
                ".123 [" + std::to_string(n % 97) + "]";
        const std::size_t length = 60 + random() % 141;
        while (text.size() - start < length) {
            text += ' ';
            text += random() % 100 < 5 ? "Failed" : words[random() % std::size(words)];
        }
        text += "\n";
        ++n;
    }
    return text;
}

// Colours the first 60 lines of a generated log, as the view does for a screenful.
void colourScreenful(benchmark::State& state, const tlg::ColourRules& rules)
{
    const std::string text = generatedLog(1 << 20);
    std::vector<std::string_view> lines;
    for (std::size_t start = 0; lines.size() < 60;) {
        const std::size_t end = text.find('\n', start) + 1;
        lines.push_back(std::string_view(text).substr(start, end - start));
        start = end;
    }
    std::vector<tlg::LabelSpan> spans;
    for (auto _ : state) {
        for (const std::string_view line : lines) {
            tlg::ColourLine(line, rules, spans);
            benchmark::DoNotOptimize(spans.data());
        }
    }
}

void BM_ColourScreenful(benchmark::State& state)
{
    colourScreenful(state, tlg::bench::defaultRules());
    state.SetLabel("60 lines, default labels");
}
BENCHMARK(BM_ColourScreenful)->Unit(benchmark::kMicrosecond);

// The same screenful with every one of the twenty label cells filled.
void BM_ColourScreenfulTwentyLabels(benchmark::State& state)
{
    tlg::ColourRules rules = tlg::bench::defaultRules();
    const char* more[] = {"timeout", "retry", "Warning", "denied", "refused", "panic", "abort",
                          "cache", "queue", "Started", "session"};
    std::size_t next = 0;
    for (auto* labels : {&rules.errorLabels, &rules.infoLabels}) {
        for (std::string& label : *labels) {
            if (label.empty())
                label = more[next++ % std::size(more)];
        }
    }
    colourScreenful(state, rules);
    state.SetLabel("60 lines, 20 labels");
}
BENCHMARK(BM_ColourScreenfulTwentyLabels)->Unit(benchmark::kMicrosecond);

void BM_ColourWholeText100MB(benchmark::State& state)
{
    const tlg::ColourRules rules = tlg::bench::defaultRules();
    const std::string text = generatedLog(100u << 20);
    for (auto _ : state) {
        const std::vector<tlg::LabelColour> colours = tlg::ColourWholeText(text, rules);
        benchmark::DoNotOptimize(colours.data());
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * static_cast<std::int64_t>(text.size()));
}
BENCHMARK(BM_ColourWholeText100MB)->Unit(benchmark::kMillisecond)->Iterations(3);

} // namespace

BENCHMARK_MAIN();
