// Video view processing on a 1280 x 960 frame, against a plain copy of the frame (memory speed)
// and against the pixel-at-a-time reference.
#include "RatioReporter.h"
#include "VideoReference.h"
#include "VideoView.h"

#include <QRandomGenerator>
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

namespace {

// A camera-like frame: smooth shading with noise, so that the bands are not trivial.
QImage makeFrame()
{
    QRandomGenerator rng(7);
    QImage img(1280, 960, QImage::Format_RGB32);
    for (int y = 0; y < img.height(); ++y) {
        auto* line = reinterpret_cast<QRgb*>(img.scanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            const int n = int(rng.bounded(40));
            line[x] = qRgb(40 + (x * 150) / 1280 + n, 60 + (y * 120) / 960 + n, 90 + ((x + y) % 90) + n / 2);
        }
    }
    return img;
}

const QImage& frame()
{
    static const QImage f = makeFrame();
    return f;
}

void allPassesOn(VideoView& v)
{
    v.setVideoSize(4);
    v.setContrastExpansion(2);
    v.setChannel(0);
    v.setGain(120);
    v.setGainEnabled(2);
    v.changeFilter(1);
    v.setInvert(2);
}

void allPassesOn(ReferenceVideo& r)
{
    r.videoWidth = 1280;
    r.videoHeight = 960;
    r.contrastExpansion = 2;
    r.gain = 120;
    r.gainEnabled = true;
    r.filter = 1;
    r.invert = true;
}

void BM_PlainCopy(benchmark::State& state)
{
    const QImage& f = frame();
    std::vector<uchar> target(std::size_t(f.sizeInBytes()));
    for (auto _ : state) {
        std::memcpy(target.data(), f.constBits(), target.size());
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * f.sizeInBytes());
}
BENCHMARK(BM_PlainCopy);

void BM_ImageDeepCopy(benchmark::State& state)
{
    const QImage& f = frame();
    for (auto _ : state) {
        QImage c = f.copy();
        benchmark::DoNotOptimize(c.constBits());
    }
}
BENCHMARK(BM_ImageDeepCopy);

void BM_NewFrame(benchmark::State& state)
{
    VideoView v;
    allPassesOn(v);
    QImage f = frame();
    for (auto _ : state) {
        v.setImage(f);
        benchmark::DoNotOptimize(v.display.constBits());
    }
}
BENCHMARK(BM_NewFrame);

void BM_ControlChange(benchmark::State& state)
{
    VideoView v;
    allPassesOn(v);
    QImage f = frame();
    v.setImage(f);
    int gain = 120;
    for (auto _ : state) {
        gain = gain == 120 ? 121 : 120;
        v.setGain(gain);
        benchmark::DoNotOptimize(v.display.constBits());
    }
}
BENCHMARK(BM_ControlChange);

void BM_ReferenceNewFrame(benchmark::State& state)
{
    ReferenceVideo r;
    allPassesOn(r);
    for (auto _ : state) {
        r.setImage(frame());
        benchmark::DoNotOptimize(r.display.constBits());
    }
}
BENCHMARK(BM_ReferenceNewFrame)->Unit(benchmark::kMillisecond);

void BM_ReferenceControlChange(benchmark::State& state)
{
    ReferenceVideo r;
    allPassesOn(r);
    r.setImage(frame());
    for (auto _ : state) {
        r.gain = r.gain == 120 ? 121 : 120;
        r.reprocess();
        benchmark::DoNotOptimize(r.display.constBits());
    }
}
BENCHMARK(BM_ReferenceControlChange)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    return runBenchmarks(argc, argv, {"BM_PlainCopy"});
}
