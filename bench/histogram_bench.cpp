// The time histogram's pass over a whole log, set against the two passes it stands beside in the
// same run: the overview strip's label pass (MarkLines) and the time index's stamp pass. The
// histogram reads labels and stamps in one pass, so it should cost about their sum or less; a
// grown log should cost its new lines only.
//
//   histogram_bench <log>

#include "document/logdocument.h"
#include "document/textload.h"
#include "document/timeindex.h"
#include "measures.h"
#include "search/overview.h"
#include "search/timehistogram.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <vector>

namespace {

// The median of three runs, in milliseconds.
double milliseconds(const std::function<void()>& run)
{
    std::vector<double> times;
    for (int i = 0; i < 3; ++i) {
        const auto start = std::chrono::steady_clock::now();
        run();
        times.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    return tlg::bench::median(times);
}

} // namespace

int main(int argc, char* argv[])
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: histogram_bench <log>\n");
        return 2;
    }
    const auto rules = std::make_shared<const tlg::ColourRules>(tlg::bench::defaultRules());
    const tlg::DocumentPtr document = tlg::LoadPlainText(argv[1]);
    const tlg::TimeForm form = tlg::DetectTimeForm(*document);
    if (form == tlg::TimeForm::None) {
        std::fprintf(stderr, "%s: no time stamps\n", argv[1]);
        return 1;
    }
    const tlg::StampContext ctx;
    const double labels = milliseconds([&] { tlg::MarkLines(*document, 0, rules.get(), {}); });
    const double stamps = milliseconds([&] { tlg::TimeIndex::build(document, form, ctx); });
    tlg::LogHistogramPtr counts;
    const double histogram = milliseconds([&] { counts = tlg::LogHistogram::count(document, form, ctx, rules); });

    // The same log grown by its last hundredth: the counts of the rest grown to the whole.
    const std::string text = document->copyText();
    const std::size_t cut = text.rfind('\n', text.size() * 99 / 100) + 1;
    auto buffer = std::make_shared<tlg::TextBuffer>(text.size());
    std::copy(text.begin(), text.end(), buffer->data());
    const tlg::DocumentPtr before = tlg::LogDocument::adopt(buffer, cut, tlg::FileIdentity{});
    const tlg::DocumentPtr after = before->appended(std::string_view(text).substr(cut));
    const tlg::LogHistogramPtr earlier = tlg::LogHistogram::count(before, form, ctx, rules);
    tlg::LogHistogramPtr grown;
    const double growth = milliseconds([&] { grown = earlier->grownTo(after); });

    const tlg::TimeHistogram& h = counts->histogram();
    std::printf("%lld lines counted in %zu buckets of %s\n", static_cast<long long>(h.lines()), h.buckets().size(),
                tlg::IntervalText(h.interval()).c_str());
    std::printf("label pass %.1f ms, stamp pass %.1f ms, histogram %.1f ms: %.2f of the label pass, %.2f of both\n",
                labels, stamps, histogram, histogram / labels, histogram / (labels + stamps));
    std::printf("growth by the last hundredth %.2f ms: %.4f of a whole count (%s)\n", growth, growth / histogram,
                grown->histogram().buckets() == h.buckets() ? "same counts" : "COUNTS DIFFER");
    std::printf("peak memory %ld MB\n", tlg::bench::peakMegabytes());
    return 0;
}
