// The core pieces of following a large log: indexing a loaded text, appending 1 MB to a
// followed 1 GiB text, and the skip-table search through 1 GiB ignoring case.
//
//   core_bench [--benchmark_filter=...]

#include "core/faststrings.h"
#include "document/logdocument.h"

#include <benchmark/benchmark.h>

#include <cstring>
#include <random>
#include <string>

namespace {

// A log-like text of the given size in a buffer of its own, with one "NeedleWord" near its end.
std::shared_ptr<tlg::TextBuffer> logText(std::size_t size)
{
    auto buffer = std::make_shared<tlg::TextBuffer>(tlg::TextRoomFor(size));
    std::mt19937 random(11);
    const char* words[] = {"request ", "served ", "user ", "error ", "queue ", "Started ", "txt "};
    char* out = buffer->data();
    std::size_t at = 0;
    while (at < size) {
        const char* stamp = "2026-12-07 10:00:00.000 ";
        for (const char* c = stamp; *c && at < size; ++c)
            out[at++] = *c;
        const std::size_t length = 60 + random() % 141;
        for (std::size_t i = 24; i < length && at < size;) {
            const char* word = words[random() % 7];
            for (; *word && at < size; ++word, ++i)
                out[at++] = *word;
        }
        if (at < size)
            out[at++] = '\n';
    }
    std::memcpy(out + size - 100, "NeedleWord", 10);
    return buffer;
}

void BM_Index(benchmark::State& state)
{
    const std::size_t size = static_cast<std::size_t>(state.range(0)) << 20;
    const auto text = logText(size);
    for (auto _ : state) {
        auto copy = std::make_shared<tlg::TextBuffer>(size);
        state.PauseTiming();
        std::memcpy(copy->data(), text->data(), size);
        state.ResumeTiming();
        benchmark::DoNotOptimize(tlg::LogDocument::adopt(copy, size, {}));
    }
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_Index)->Arg(100)->Unit(benchmark::kMillisecond)->Iterations(5);

void BM_AppendOneMegabyte(benchmark::State& state)
{
    const std::size_t size = 1u << 30;
    const auto text = logText(size);
    const std::string more = std::string(logText(1u << 20)->data(), 1u << 20);
    for (auto _ : state) {
        // A followed text that is the newest of its buffer, as the watcher holds it.
        state.PauseTiming();
        auto copy = std::make_shared<tlg::TextBuffer>(tlg::TextRoomFor(size));
        std::memcpy(copy->data(), text->data(), size);
        const tlg::DocumentPtr followed = tlg::LogDocument::adopt(copy, size, {});
        state.ResumeTiming();
        benchmark::DoNotOptimize(followed->appended(more));
    }
}
BENCHMARK(BM_AppendOneMegabyte)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_FindForwardOneGigabyte(benchmark::State& state)
{
    const std::size_t size = 1u << 30;
    const auto text = logText(size);
    const std::string_view view(text->data(), size);
    for (auto _ : state)
        benchmark::DoNotOptimize(tlg::FindForward("needleword", view, true, 1));
    state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * size));
}
BENCHMARK(BM_FindForwardOneGigabyte)->Unit(benchmark::kMillisecond)->Iterations(5);

} // namespace

BENCHMARK_MAIN();
