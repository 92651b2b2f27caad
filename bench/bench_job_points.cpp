// Job points over 20 x 20 mm at 10 samples per mm (40,000 points) on a 3060 x 2036 slide,
// against the pixmap-to-image conversion that starts the call, and against a deep copy of
// the slide image (memory speed) for scale.
#include "HighResPreview.h"
#include "RatioReporter.h"

#include <QBuffer>
#include <QPainter>
#include <QRandomGenerator>
#include <benchmark/benchmark.h>

#include <vector>

namespace {

// A slide as the host sends it: a JPEG of a near-white glass with a stained specimen on it.
QPixmap makeSlide()
{
    QImage img(HighResPreview::ImageWidth, HighResPreview::ImageHeight, QImage::Format_RGB32);
    img.fill(qRgb(246, 244, 248));
    QRandomGenerator rng(11);
    QPainter p(&img);
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 400; ++i) {
        p.setBrush(QColor(150 + int(rng.bounded(60)), 80 + int(rng.bounded(60)), 140 + int(rng.bounded(60))));
        p.drawEllipse(QPoint(500 + int(rng.bounded(1000)), 500 + int(rng.bounded(800))), 10 + int(rng.bounded(60)),
                      10 + int(rng.bounded(60)));
    }
    p.end();
    QByteArray jpeg;
    QBuffer buffer(&jpeg);
    buffer.open(QIODevice::WriteOnly);
    img.save(&buffer, "JPEG", 90);
    QPixmap pm;
    pm.loadFromData(jpeg, "JPEG");
    return pm;
}

HighResPreview& preview()
{
    static HighResPreview* v = [] {
        auto* view = new HighResPreview;
        view->resize(383, 270);
        view->backup = view->pixmap = makeSlide();
        return view;
    }();
    return *v;
}

void BM_FirstStepConversion(benchmark::State& state)
{
    HighResPreview& v = preview();
    for (auto _ : state) {
        v.pixmap = v.backup;
        QImage img = v.pixmap.toImage().convertToFormat(QImage::Format_RGB32);
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_FirstStepConversion);

void BM_SlideImageDeepCopy(benchmark::State& state)
{
    HighResPreview& v = preview();
    const QImage source = v.backup.toImage();
    for (auto _ : state) {
        QImage img = source.copy();
        benchmark::DoNotOptimize(img.constBits());
    }
}
BENCHMARK(BM_SlideImageDeepCopy)->Unit(benchmark::kMicrosecond);

void BM_BuildJobPoints(benchmark::State& state)
{
    HighResPreview& v = preview();
    qsizetype chars = 0;
    for (auto _ : state) {
        QString good, bad;
        const HighResPreview::JobPoints r = v.buildJobPoints(CoordinateTriple(10, 10, 0), CoordinateTriple(30, 30, 0), 10,
                                                             QStringLiteral("jdoe"), QStringLiteral("job"),
                                                             QString(), good, bad);
        benchmark::DoNotOptimize(r);
        chars = good.size() + bad.size();
    }
    state.counters["points"] = double(chars) / 24;     // each "xxxxxx.xxxx,yyyyyy.yyyy;"
}
BENCHMARK(BM_BuildJobPoints)->Unit(benchmark::kMicrosecond);

} // namespace

int main(int argc, char** argv)
{
    return runBenchmarks(argc, argv, {"BM_FirstStepConversion", "BM_SlideImageDeepCopy"});
}
