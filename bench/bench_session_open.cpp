// Opening the windows of a control session (the control window, the video window and the
// neighbour window: built, shown and painted once) against opening the log-in dialog; and the
// session's start from a granted ticket to `begin` returned, against the windows' own opening.
#include "HighResPreview.h"
#include "LowResPreview.h"
#include "NeighborVideo.h"
#include "RatioReporter.h"
#include "ReplyText.h"
#include "ScopeBrowser.h"
#include "Session.h"
#include "SessionFixture.h"
#include "SimHost.h"
#include "VideoView.h"
#include "VideoWindow.h"

#include <benchmark/benchmark.h>

#include <ostream>
#include <vector>

namespace {

template <typename W>
void openAndPaint(W& w)
{
    w.show();
    QImage shot = w.grab().toImage();
    benchmark::DoNotOptimize(shot.constBits());
}

void BM_LoginDialogOpen(benchmark::State& state)
{
    for (auto _ : state) {
        auto* b = new ScopeBrowser(nullptr);
        openAndPaint(*b);
        delete b;
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(BM_LoginDialogOpen)->Unit(benchmark::kMillisecond);

void BM_SessionOpen(benchmark::State& state)
{
    for (auto _ : state) {
        auto* s = new Session(nullptr, nullptr, Qt::Window);
        openAndPaint(*s);
        auto* video = new VideoWindow;
        openAndPaint(*video);
        auto* neighbors = new NeighborVideo;
        openAndPaint(*neighbors);
        // Nothing on this road may hold a slide-sized picture.
        if (!s->highRes->pixmap.isNull() || !s->highRes->backup.isNull() || !s->highRes->slideImage.isNull()
            || !s->lowRes->image.isNull()) {
            state.SkipWithError("a slide picture was made while opening");
            break;
        }
        delete neighbors;
        delete video;
        delete s;
        QCoreApplication::sendPostedEvents();
    }
}
BENCHMARK(BM_SessionOpen)->Unit(benchmark::kMillisecond);

// From the "+" ticket reply to `begin` returned: the ticket read, the control window built,
// shown and begun (which opens the video window and sends the start requests), both shown
// windows painted once. `begin` sends and returns: no reply is waited for or decoded.
void BM_SessionBegin(benchmark::State& state)
{
    SimHost host;
    if (!host.listen(0)) {
        state.SkipWithError("no host");
        return;
    }
    World& w = host.world();
    const QByteArray ticketReply = "+OK " + QByteArray::number(w.issueTicket("session", "guest", "tall"), 16);
    SessionInfo info = sessionInfoFor(host, QStringLiteral("tall"), QStringLiteral("guest"), QStringLiteral("guest"));
    for (auto _ : state) {
        info.ticket = ReplyText(ticketReply).hexAt(3).value_or(0);
        Session* s = Session::openSession(info);
        openAndPaint(*s);
        openAndPaint(*s->videoWindow);

        state.PauseTiming();
        const bool decodedNothing = s->lowRes->image.isNull() && s->highRes->slideImage.isNull()
                                    && s->highRes->pixmap.isNull() && !s->videoWindow->imageView->haveImage;
        const bool sent = s->sysInfoConn.isBusy() && s->timeConn.isBusy() && s->moveConn.isBusy()
                          && s->videoJPEG.request()->isBusy() && s->lowRes->jpeg.request()->isBusy();
        delete s->neighborVideo;
        delete s->videoWindow;
        delete s;
        QCoreApplication::processEvents();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        state.ResumeTiming();
        if (!decodedNothing || !sent) {
            state.SkipWithError(decodedNothing ? "a start request was not sent" : "begin decoded a picture");
            break;
        }
    }
}
BENCHMARK(BM_SessionBegin)->Unit(benchmark::kMillisecond);

} // namespace

int main(int argc, char** argv)
{
    RatioReporter reporter({"BM_LoginDialogOpen"}, "(target: BM_SessionOpen within 6)",
                           [](std::ostream& out, const RatioReporter::Times& times) {
                               const auto open = times.find("BM_SessionOpen");
                               const auto begun = times.find("BM_SessionBegin");
                               if (times.count("BM_LoginDialogOpen") && open != times.end() && begun != times.end()
                                   && open->second > 0)
                                   out << "BM_SessionBegin as a multiple of BM_SessionOpen (target: within 1.2): "
                                       << begun->second / open->second << "\n";
                           });
    return runBenchmarks(argc, argv, &reporter);
}
