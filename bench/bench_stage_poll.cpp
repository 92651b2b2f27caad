// One "*" position reply through the control window's stage loop (bytes, the coordinate fields,
// the position signal, the overview's marker and the video window's coordinates, all painted)
// against a plain blit of an overview-sized picture, in the same run.
#include "HighResPreview.h"
#include "LowResPreview.h"
#include "NeighborVideo.h"
#include "RatioReporter.h"
#include "Session.h"
#include "SessionFixture.h"
#include "SimHost.h"
#include "VideoView.h"
#include "VideoWindow.h"

#include <QPainter>
#include <QTest>
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <vector>

namespace {

class PaintCounter : public QObject
{
public:
    explicit PaintCounter(QWidget* w) { w->installEventFilter(this); }
    int paints = 0;

protected:
    bool eventFilter(QObject*, QEvent* e) override
    {
        if (e->type() == QEvent::Paint)
            ++paints;
        return false;
    }
};

// A window that only draws its picture.
class Blit : public QWidget
{
public:
    Blit()
    {
        picture = QImage(383, 255, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y)
            for (int x = 0; x < picture.width(); ++x)
                picture.setPixel(x, y, qRgb(x & 0xff, y & 0xff, (x ^ y) & 0xff));
        resize(picture.size());
    }
    QImage picture;

protected:
    void paintEvent(QPaintEvent*) override
    {
        QPainter p(this);
        p.drawImage(0, 0, picture);
    }
};

// What the event loop does next: the windows' pending paints among the rest.
void paintPending()
{
    QCoreApplication::processEvents();
}

// A begun session whose overview, slide view and first frame have arrived, with its position
// poll held open by the host, so that the poll each "*" reply sends is dropped as busy.
struct PollSession
{
    SimHost host;
    Session* s = nullptr;
    std::vector<QByteArray> replies;
    size_t next = 0;

    bool open()
    {
        if (!host.listen(0))
            return false;
        host.scriptReply(QStringLiteral("iserv:w"), 200, "+OK 378350 251625 15000", 10 * 60 * 1000);
        World& w = host.world();
        w.book(QStringLiteral("tall"), {QStringLiteral("guest"), w.now() - 60, 3600});
        SessionInfo info = sessionInfoFor(host, QStringLiteral("tall"), QStringLiteral("guest"), QStringLiteral("guest"));
        info.ticket = w.issueTicket(QStringLiteral("session"), info.login, info.scope.name);
        s = Session::openSession(info);
        // The stage crosses the slide: every reply moves x and y.
        for (int i = 0; i < 64; ++i)
            replies.push_back("*MV " + QByteArray::number(300000 + i * 1037) + ' '
                              + QByteArray::number(250000 - i * 511) + " 15000");
        const bool ready = QTest::qWaitFor([this] {
            return !s->lowRes->image.isNull() && !s->highRes->pixmap.isNull() && !s->videoJPEG.request()->isBusy()
                   && s->moveConn.isBusy() && !s->highRes->counts1.isBusy() && !s->highRes->counts2.isBusy();
        }, 20000) && QTest::qWaitForWindowExposed(s) && QTest::qWaitForWindowExposed(s->videoWindow);
        paintPending();
        return ready;
    }

    // One "*" reply, handled and painted.
    void reply()
    {
        const QByteArray& r = replies[next++ % replies.size()];
        s->handlePositionReply(true, r.constData(), int(r.size()));
        paintPending();
    }

    ~PollSession()
    {
        if (!s)
            return;
        delete s->videoWindow;
        delete s->neighborVideo;
        delete s;
    }
};

std::unique_ptr<PollSession>& sessionSlot()
{
    static std::unique_ptr<PollSession> session;
    return session;
}

PollSession* pollSession()
{
    static bool tried = false;
    if (!tried) {
        tried = true;
        sessionSlot() = std::make_unique<PollSession>();
        if (!sessionSlot()->open())
            sessionSlot().reset();
    }
    return sessionSlot().get();
}

Blit* blitWindow()
{
    static Blit* const w = [] {
        auto* b = new Blit;
        b->show();
        if (!QTest::qWaitForWindowExposed(b))
            std::fprintf(stderr, "the blit window was not exposed\n");
        return b;
    }();
    return w;
}

void BM_PlainBlit(benchmark::State& state)
{
    Blit* w = blitWindow();
    for (auto _ : state) {
        w->repaint();
        paintPending();
    }
}
BENCHMARK(BM_PlainBlit)->Unit(benchmark::kMicrosecond);

void BM_StagePollReply(benchmark::State& state)
{
    PollSession* session = pollSession();
    if (!session) {
        state.SkipWithError("the session did not start");
        return;
    }
    Session* s = session->s;
    PaintCounter overview(s->lowRes), slideView(s->highRes), frameView(s->videoWindow->imageView);
    for (auto _ : state)
        session->reply();
    const auto replied = state.iterations();
    state.counters["overview_paints_per_reply"] = double(overview.paints) / double(replied);
    if (overview.paints != int(replied) || slideView.paints != 0 || frameView.paints != 0)
        state.SkipWithError("a reply painted other than the overview once");
    if (s->xCoord->text().isEmpty() || s->videoWindow->physical.x < 300000)
        state.SkipWithError("the reply did not reach the fields and the video window");
}
BENCHMARK(BM_StagePollReply)->Unit(benchmark::kMicrosecond);

// The two in turn, so that the machine's load weighs on both alike: a reply's time as a
// multiple of a blit's.
void BM_StagePollOverBlit(benchmark::State& state)
{
    PollSession* session = pollSession();
    if (!session) {
        state.SkipWithError("the session did not start");
        return;
    }
    Blit* w = blitWindow();
    using Clock = std::chrono::steady_clock;
    Clock::duration blit{}, poll{};
    for (auto _ : state) {
        const auto t0 = Clock::now();
        w->repaint();
        paintPending();
        const auto t1 = Clock::now();
        session->reply();
        poll += Clock::now() - t1;
        blit += t1 - t0;
    }
    state.counters["ratio"] = double(poll.count()) / double(std::max<Clock::rep>(blit.count(), 1));
}
BENCHMARK(BM_StagePollOverBlit)->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char** argv)
{
    std::printf("Target: the median ratio of BM_StagePollOverBlit within 3.\n");
    return runBenchmarks(argc, argv, nullptr, [] { sessionSlot().reset(); });
}
