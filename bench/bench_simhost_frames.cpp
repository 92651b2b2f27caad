// The simulated host's pictures: video frames (render + JPEG encode) per size code, in focus
// and defocused, focus-stack insets, the whole-slide picture and the overview, and a full
// 1280 x 960 frame request over loopback HTTP.
#include "ImageRoutes.h"
#include "TestHost.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <benchmark/benchmark.h>

namespace {

void frame(benchmark::State& state, const char* scope, double defocus)
{
    World w;
    SimStage::Position at = w.stagePosition(QString::fromLatin1(scope));
    at.z += defocus;
    w.placeStage(QString::fromLatin1(scope), at);
    qint64 bytes = 0;
    for (auto _ : state) {
        const QByteArray jpeg = ImageRoutes::jpeg(ImageRoutes::videoFrame(w, QString::fromLatin1(scope), int(state.range(0))));
        bytes = jpeg.size();
        benchmark::DoNotOptimize(jpeg.constData());
    }
    state.counters["jpeg_bytes"] = double(bytes);
}

void BM_FrameInFocus(benchmark::State& state) { frame(state, "tall", 0); }
void BM_FrameDefocused(benchmark::State& state) { frame(state, "tall", 150); }
void BM_FrameDark(benchmark::State& state) { frame(state, "dark", 0); }

// The two halves of a frame's cost: rendering alone, and encoding a rendered frame.
void BM_FrameRenderOnly(benchmark::State& state)
{
    World w;
    for (auto _ : state) {
        const QImage img = ImageRoutes::videoFrame(w, QStringLiteral("tall"), int(state.range(0)));
        benchmark::DoNotOptimize(img.constBits());
    }
}

void BM_FrameEncodeOnly(benchmark::State& state)
{
    World w;
    const QImage img = ImageRoutes::videoFrame(w, QStringLiteral("tall"), int(state.range(0)));
    for (auto _ : state) {
        const QByteArray jpeg = ImageRoutes::jpeg(img);
        benchmark::DoNotOptimize(jpeg.constData());
    }
}

void BM_Inset(benchmark::State& state)
{
    World w;
    SimStage::Position at = w.stagePosition(QStringLiteral("tall"));
    at.z += 130;
    w.placeStage(QStringLiteral("tall"), at);
    const QRect inset(400, 300, SlideGeometry::kInsetWidth, SlideGeometry::kInsetHeight);
    for (auto _ : state) {
        const QByteArray jpeg = ImageRoutes::jpeg(ImageRoutes::videoFrame(w, QStringLiteral("tall"), 4, &inset));
        benchmark::DoNotOptimize(jpeg.constData());
    }
}

void BM_WholeSlide(benchmark::State& state)
{
    const SlideWorld slide(QStringLiteral("liver01"));
    for (auto _ : state) {
        const QByteArray jpeg = ImageRoutes::jpeg(slide.wholeSlide());
        benchmark::DoNotOptimize(jpeg.constData());
    }
}

void BM_Overview(benchmark::State& state)
{
    const SlideWorld slide(QStringLiteral("liver01"));
    for (auto _ : state) {
        const QByteArray jpeg = ImageRoutes::jpeg(slide.overview());
        benchmark::DoNotOptimize(jpeg.constData());
    }
}

// Request to reply over a socket, as a client sees it.
void BM_HttpFramePs4(benchmark::State& state)
{
    TestHost host;
    QNetworkAccessManager nam;
    const QUrl url(host.url(QStringLiteral("/cgi-bin/iserv?l=guest&s=tall&f=p&ps=4")));
    for (auto _ : state) {
        QNetworkReply* reply = nam.get(QNetworkRequest(url));
        QEventLoop loop;
        QObject::connect(reply, &QNetworkReply::finished, &loop, &QEventLoop::quit);
        loop.exec();
        if (reply->error() != QNetworkReply::NoError)
            state.SkipWithError("frame request failed");
        reply->deleteLater();
    }
}

} // namespace

BENCHMARK(BM_FrameInFocus)->Arg(1)->Arg(2)->Arg(3)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameRenderOnly)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameEncodeOnly)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameDefocused)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FrameDark)->Arg(1)->Arg(4)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Inset)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_WholeSlide)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Overview)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HttpFramePs4)->Unit(benchmark::kMillisecond);

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
