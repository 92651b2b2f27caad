// Host text in the banner view: set and laid out, for an ordinary banner (the baseline), the
// largest markup still laid out as markup, and hostile texts shown as their plain fallback.
#include "HostText.h"
#include "RatioReporter.h"

#include <QTextDocument>
#include <benchmark/benchmark.h>


namespace {

QString repeated(const QString& head, const QString& unit, qsizetype bytes)
{
    QString s = head;
    while (s.toUtf8().size() + unit.size() <= bytes)
        s += unit;
    return s;
}

const QString ordinary = QStringLiteral(
    "<h3>Brolt demonstration host</h3>\n<p>Three slide-scanning microscopes are online.</p>\n"
    "<table border=1><tr><td><b>Open</b></td><td>9-17</td></tr></table>\n");

void run(benchmark::State& state, const QString& text)
{
    HostTextEdit view;
    view.resize(340, 250);
    view.show();
    for (auto _ : state) {
        view.setHostText(text);
        benchmark::DoNotOptimize(view.document()->size());
        benchmark::DoNotOptimize(view.grab().cacheKey());
        view.clear();
    }
}

QString nestedTables(int depth) { return QStringLiteral("<table><tr><td>").repeated(depth); }

void BM_OrdinaryBanner(benchmark::State& s) { run(s, ordinary); }
// Rows inside the deepest table nesting still laid out, up to the markup budget.
void BM_DeepTablesAtBudget(benchmark::State& s)
{
    const int depth = HostMarkup::MaxTableDepth;
    run(s, repeated(nestedTables(depth), "<tr><td>a</td><td>b</td></tr>\n",
                    (HostMarkup::MaxMarkupCost >> depth) - 200));
}
void BM_LongRunsAtMarkupLimit(benchmark::State& s)
{
    run(s, repeated("<b>", QString(HostMarkup::MaxLineBytes - 1, 'y') + "\n", HostMarkup::MaxMarkupBytes));
}
void BM_TwentyTwoNestedTables(benchmark::State& s) { run(s, nestedTables(22)); }
void BM_MegabyteLine(benchmark::State& s) { run(s, QString(1 << 20, 'x')); }
BENCHMARK(BM_OrdinaryBanner)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DeepTablesAtBudget)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LongRunsAtMarkupLimit)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_TwentyTwoNestedTables)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MegabyteLine)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runBenchmarks(argc, argv, {"BM_OrdinaryBanner"});
}
