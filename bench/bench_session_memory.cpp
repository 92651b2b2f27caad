// The client's peak resident memory (VmHWM) through the README's whole session, log-in to the
// library's slides, driven through the real windows against brolt-simhost in its own process.
// Each scenario runs in a process of its own (this program, started again with --scenario):
//   Session640    the whole session with the video at 640 x 480, mosaic included;
//   Mosaic1280    the same with the video at 1280 x 960 from the mosaic on;
//   HugePictures  the host answers every inset and tile with a 5000 x 5000 JPEG, 120 levels;
//   PointListAtCap  the slide view of a control window gets a red point list just under the
//                 64 MiB reply cap (this program serves it as a host process of its own): the
//                 time to the dots, the longest time the event loop was blocked, and VmHWM.
//   Picture:<kind>:<view>  the whole session at 640 x 480 with one kind of picture answered by
//                 a host of this program for every picture of one view: the overview, the
//                 slide, the video frames, the insets or the tiles (or, for Trailing, all five).
//                 Kinds: Plain5792 (5792 x 5792 baseline, about 12.7 MB), Progressive444
//                 (5792 x 5792 progressive without subsampling, about 22 MB), CmykComments
//                 (5792 x 5792 progressive CMYK after 63 MiB of comment segments),
//                 InsetComments (168 x 140 after 63 MiB of comment segments), Trailing (each
//                 picture as usual followed by 63 MiB after its end marker).
// The host's pictures are not counted: it runs in another process.
#include "BoxCloser.h"
#include "HighResPreview.h"
#include "ImageRoutes.h"
#include "JpegSynth.h"
#include "LowResPreview.h"
#include "NeighborVideo.h"
#include "PeakMemory.h"
#include "ScopeBrowser.h"
#include "Session.h"
#include "SimHost.h"
#include "UserActions.h"
#include "VideoView.h"
#include "VideoWindow.h"

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QListWidget>
#include <QPointer>
#include <QProcess>
#include <QRegularExpression>
#include <QSpinBox>
#include <QStatusBar>
#include <QTest>

#include <cstdio>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

// One step may take minutes when every picture of a view is a slow one.
constexpr int Wait = 600000;

void report(const char* step)
{
    std::printf("STEP %s %lld\n", step, peakResidentKb());
    std::fflush(stdout);
}

struct Walk
{
    QString hostField;
    bool mosaic1280 = false;
    // The host's overview or slide picture may be refused: the session starts once both
    // requests have ended.
    bool picturesMayFail = false;
    int levels = 15;
    BoxCloser boxes;
    QPointer<ScopeBrowser> browser;
    QPointer<Session> s;

    bool fail(const char* what)
    {
        std::fprintf(stderr, "session walk failed: %s\n", what);
        return false;
    }
    bool controlsOn() const { return s->AFButton->isEnabled() && s->frameGrabButton->isEnabled(); }
    bool waitControls()
    {
        return QTest::qWaitFor([this] { return controlsOn() && s->statusBar()->currentMessage() != QLatin1String("Moving scope..."); }, Wait);
    }
    bool slideIdle() const
    {
        const HighResPreview* h = s->highRes;
        return !h->jpeg.request()->isBusy() && !h->newFiducials.isBusy() && !h->oldFiducials.isBusy()
               && !h->counts1.isBusy() && !h->counts2.isBusy();
    }
    bool waitSlide()
    {
        return waitSettled([this] { return slideIdle(); }, 50, Wait);
    }
    bool click(QWidget* w) { return clickWhenEnabled(w, Wait); }
    bool pickTab(const QString& title) { return ::pickTab(s->Stack_Acquisition, title, Wait); }
    // Clicks every entry of the job list in turn, each shown with its dots.
    bool showEveryEntry()
    {
        QListWidget* list = s->joblistBox;
        if (!QTest::qWaitFor([list] { return list->count() > 0; }, Wait))
            return false;
        for (int i = 0; i < list->count(); ++i) {
            QListWidgetItem* item = list->item(i);
            list->scrollToItem(item);
            QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(item).center());
            if (!QTest::qWaitFor([&] { return list->currentItem() == item; }, Wait))
                return false;
            QTest::qWait(100);
            if (!waitSlide())
                return false;
        }
        return true;
    }

    bool run()
    {
        ScopeBrowser::setSessionOpener([](SessionInfo& info) { Session::openSession(info); });
        browser = new ScopeBrowser;
        browser->show();
        if (!QTest::qWaitForWindowExposed(browser))
            return fail("log-in dialog");
        report("login_dialog");

        // 1: log in.
        ScopeBrowser* b = browser;
        b->hostName->setText(hostField);
        QTest::keyClicks(b->loginBox, QStringLiteral("guest"));
        QTest::keyClicks(b->passwordBox, QStringLiteral("guest"));
        if (!click(b->connectToServer) || !QTest::qWaitFor([b] { return b->scopeListBox->count() == 3; }, Wait))
            return fail("log-in");
        for (int row = 0; row < 3; ++row) {
            QListWidgetItem* item = b->scopeListBox->item(row);
            QTest::mouseClick(b->scopeListBox->viewport(), Qt::LeftButton, {}, b->scopeListBox->visualItemRect(item).center());
            QTest::qWait(200);
        }
        report("logged_in");

        // 2: reserve "tall" now.
        QTest::mouseClick(b->scopeListBox->viewport(), Qt::LeftButton, {},
                          b->scopeListBox->visualItemRect(b->scopeListBox->item(0)).center());
        if (!click(b->reserveButton) || !boxes.waitFor(1, Wait)
            || !QTest::qWaitFor([b] { return b->beginButton->isEnabled(); }, Wait))
            return fail("reservation");
        report("reserved");

        // 3: take control.
        if (!click(b->beginButton) || !QTest::qWaitFor([] { return shownWindow<Session>(); }, Wait))
            return fail("control window");
        s = shownWindow<Session>();
        const auto ended = [](MyWebJPEG& j) { return j.request()->finalState() >= MyHTTP::StDone; };
        if (!QTest::qWaitFor([this, ended] {
                return picturesMayFail ? ended(s->lowRes->jpeg) && ended(s->highRes->jpeg)
                                       : !s->lowRes->image.isNull() && !s->highRes->pixmap.isNull();
            }, Wait)
            || !waitControls() || !waitSlide())
            return fail("session start");
        report("control_window");

        // 4: move to tissue.
        VideoWindow* video = s->videoWindow;
        const std::optional<QPoint> spot = tissueSpot(s->lowRes->grab().toImage());
        if (!spot)
            return fail("no tissue on the overview");
        QTest::mouseClick(s->lowRes, Qt::LeftButton, {}, *spot);
        if (!click(s->frameGrabButton) || !waitControls())
            return fail("move");
        report("moved");

        // 5: quick focus.
        if (!click(s->AFButton) || !waitControls())
            return fail("focus");
        report("focused");

        // 6: focus stack.
        if (!pickTab(QStringLiteral("Focus Assist")))
            return fail("focus tab");
        QTest::mouseClick(video->imageView, Qt::LeftButton, {}, QPoint(320, 240));
        s->frameCountSelector->setValue(levels);
        if (!click(s->focusStackButton)
            || !QTest::qWaitFor([this] { return controlsOn() && s->statusBar()->currentMessage().isEmpty(); }, Wait))
            return fail("focus stack");
        for (int level = 0; level < levels; ++level)
            s->zSlider->setValue(level);
        report("focus_stack");

        // 7: the neighbour mosaic.
        if (mosaic1280) {
            video->videoResComboBox->setFocus();
            QTest::keyClick(video->videoResComboBox, Qt::Key_End);     // the user's choice: "1280x960"
            if (!QTest::qWaitFor([video] { return video->imageView->width() == 1280 && video->imageView->haveImage; }, Wait)
                || !waitControls())
                return fail("video size");
            report("video_1280");
        }
        if (!pickTab(QStringLiteral("Calibration Assist")) || !click(s->neighborButton)
            || !QTest::qWaitFor([this] { return controlsOn() && s->statusBar()->currentMessage().isEmpty(); }, Wait))
            return fail("mosaic");
        report("mosaic");

        // 8: a job over the rectangle beside the view's centre.
        if (!pickTab(QStringLiteral("Image Acquisition")))
            return fail("acquisition tab");
        HighResPreview* view = s->highRes;
        const QPoint centre(view->width() / 2, view->height() / 2);
        if (!mouseDrag(view, centre, centre + QPoint(-30, -20)) || !click(s->PushButton6))
            return fail("first corner");
        if (!mouseDrag(view, centre, centre + QPoint(60, 40)) || !click(s->PushButton7))
            return fail("second corner");
        QTest::keyClick(s->densityBox, Qt::Key_Up);
        QTest::mouseClick(s->jobNameEdit, Qt::LeftButton);
        QTest::keyClicks(s->jobNameEdit, QStringLiteral("memory walk"));
        const int seen = int(boxes.seen.size());
        if (!click(s->createJobButton) || !boxes.waitFor(seen + 1, Wait))
            return fail("job");
        report("job");

        // 9: the user's jobs, then the library's slides, then the microscope's slide again.
        if (!pickTab(QStringLiteral("Stack Info")) || !click(s->displayJobButton) || !showEveryEntry())
            return fail("user jobs");
        report("user_jobs");
        if (!click(s->displayLibButton) || !showEveryEntry())
            return fail("library slides");
        report("library_slides");
        if (!click(s->curSlideButton) || !waitSlide())
            return fail("current slide");
        report("end");
        return true;
    }
};

// A host whose "f=sl" list of every slide is just under the reply cap: lines over the whole
// slide and around it, a tenth of them off the image. The green list is empty.
int servePointList()
{
    SimHost host;
    QByteArray list;
    list.reserve(MyHTTP::MaxReply);
    quint32 seed = 12345;
    auto next = [&seed] { return seed = seed * 1664525u + 1013904223u; };
    while (list.size() < MyHTTP::MaxReply - 64) {
        const double x = double(next() % 840000) - 40000.0;   // 0.1 um; the slide is 756700 wide
        const double y = double(next() % 560000) - 30000.0;
        list += "S1 " + QByteArray::number(x, 'f', 6) + ' ' + QByteArray::number(y, 'f', 6) + '\n';
    }
    host.script(QStringLiteral("icount:sl"), [list](const HostRequest&) { return HostReply::text(list); });
    host.script(QStringLiteral("icount:sbl"), [](const HostRequest&) { return HostReply::text(""); });
    if (!host.listen(0))
        return 1;
    std::printf("brolt-simhost listening on %s\n", qPrintable(host.hostField()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// The picture kinds and views of the Picture scenarios.
const char* const PictureKinds[] = {"Plain5792", "Progressive444", "CmykComments", "InsetComments"};
const char* const PictureViews[] = {"overview", "slide", "video", "insets", "tiles"};

QByteArray pictureOfKind(const QString& kind)
{
    constexpr qint64 Comments = qint64(63) << 20;
    const auto level = [](int c, int bx, int by) { return (bx / 32 * 3 + by / 32 * 5 + c * 40) % 256; };
    if (kind == QLatin1String("Plain5792")) {
        QImage big(5792, 5792, QImage::Format_RGB32);
        quint32 seed = 1;
        for (int y = 0; y < big.height(); ++y) {
            auto* line = reinterpret_cast<QRgb*>(big.scanLine(y));
            for (int x = 0; x < big.width(); ++x) {
                seed = seed * 1664525u + 1013904223u;
                const int n = int(seed >> 24) % 42;
                line[x] = qRgb(((x / 50) * 2 + n) % 256, ((y / 50) * 2 + n) % 256, (((x + y) / 100) * 3 + n) % 256);
            }
        }
        return ImageRoutes::jpeg(big, 85);
    }
    JpegSynth::Spec spec;
    spec.level = level;
    if (kind == QLatin1String("Progressive444")) {
        spec.width = spec.height = 5792;
        spec.progressive = true;
        spec.acTerms = 15;
        return JpegSynth::write(spec);
    }
    if (kind == QLatin1String("CmykComments")) {
        spec.width = spec.height = 5792;
        spec.components = 4;
        spec.progressive = true;
        spec.afterSoi = JpegSynth::comments(Comments);
        return JpegSynth::write(spec);
    }
    if (kind == QLatin1String("InsetComments")) {
        QImage inset(168, 140, QImage::Format_RGB32);
        for (int y = 0; y < inset.height(); ++y)
            for (int x = 0; x < inset.width(); ++x)
                inset.setPixel(x, y, qRgb(x, y, (x + y) % 256));
        return JpegSynth::insertAfterSoi(ImageRoutes::jpeg(inset, 85), JpegSynth::comments(Comments));
    }
    return {};
}

// A host whose pictures of one view ("overview", "slide", "video", "insets", "tiles") are all
// one picture of a kind; with the kind "Trailing", every picture of every view is as usual
// followed by 63 MiB after its end marker.
int servePictures(const QString& kind, const QString& view)
{
    SimHost host;
    World& w = host.world();
    const bool trailing = kind == QLatin1String("Trailing");
    const QByteArray picture = trailing ? QByteArray() : pictureOfKind(kind);
    const QByteArray tail = trailing ? QByteArray(qint64(63) << 20, 'x') : QByteArray();
    const auto answer = [&](bool ours, const QByteArray& usual) {
        if (trailing)
            return HostReply::jpeg(usual + tail);
        return HostReply::jpeg(ours ? picture : usual);
    };
    for (const bool whole : {false, true})
        host.script(whole ? QStringLiteral("/whole_slides/") : QStringLiteral("/small_slides/"),
                    [&w, &view, whole, answer, trailing](const HostRequest& r) {
                        const bool ours = view == QLatin1String(whole ? "slide" : "overview");
                        const auto slide = w.slide(r.rest);
                        if (!slide)
                            return HostReply::notFound();
                        return answer(ours, ours && !trailing ? QByteArray() : ImageRoutes::slideFile(*slide, whole));
                    });
    host.script(QStringLiteral("iserv:p"), [&host, &w, &view, answer, trailing](const HostRequest& r) {
        const bool inset = r.value(QStringLiteral("inset")) == QLatin1String("1");
        const bool tile = !inset && host.frameFollowsBlockingMove();
        const QString kindOfFrame = inset ? QStringLiteral("insets") : tile ? QStringLiteral("tiles") : QStringLiteral("video");
        const bool ours = view == kindOfFrame;
        if (ours && !trailing)
            return answer(true, QByteArray());
        QRect box(r.value(QStringLiteral("x")).toInt(), r.value(QStringLiteral("y")).toInt(),
                  SlideGeometry::kInsetWidth, SlideGeometry::kInsetHeight);
        const QImage frame = ImageRoutes::videoFrame(w, r.value(QStringLiteral("s")),
                                                     r.value(QStringLiteral("ps")).toInt(), inset ? &box : nullptr);
        return frame.isNull() ? HostReply::notFound() : answer(false, ImageRoutes::jpeg(frame));
    });
    if (!host.listen(0))
        return 1;
    std::printf("brolt-simhost listening on %s\n", qPrintable(host.hostField()));
    std::fflush(stdout);
    return QCoreApplication::exec();
}

// The slide view of a begun control window switched to slide lists, then the slide shown again.
bool pointListAtCap(const QString& hostField)
{
    BoxCloser boxes;
    ScopeBrowser::setSessionOpener([](SessionInfo& info) { Session::openSession(info); });
    auto* b = new ScopeBrowser;
    b->show();
    b->hostName->setText(hostField);
    b->loginBox->setText(QStringLiteral("guest"));
    b->passwordBox->setText(QStringLiteral("guest"));
    b->connectToServer->click();
    if (!QTest::qWaitFor([b] { return b->scopeListBox->count() == 3; }, Wait))
        return false;
    b->scopeListBox->setCurrentRow(0);
    b->reserveButton->click();
    if (!QTest::qWaitFor([b] { return b->beginButton->isEnabled(); }, Wait))
        return false;
    b->beginButton->click();
    if (!QTest::qWaitFor([] { return shownWindow<Session>(); }, Wait))
        return false;
    Session* s = shownWindow<Session>();
    HighResPreview* view = s->highRes;
    if (!QTest::qWaitFor([view] { return !view->pixmap.isNull() && !view->jpeg.request()->isBusy(); }, Wait))
        return false;
    QTest::qWait(500);
    report("control_window");

    // The event loop's longest gap, from a timer that asks to run every 5 ms.
    QElapsedTimer sinceTick;
    qint64 longest = 0;
    QTimer tick;
    tick.setInterval(5);
    QObject::connect(&tick, &QTimer::timeout, [&] {
        longest = std::max(longest, sinceTick.restart());
    });
    QElapsedTimer clock;
    clock.start();
    sinceTick.start();
    tick.start();
    view->slideListMode = true;
    QByteArray slide = s->highRes->slideWireName;
    view->slideChange(slide);
    if (!QTest::qWaitFor([view] { return !view->list1.isEmpty(); }, Wait))
        return false;
    const qint64 toDots = clock.elapsed();
    QTest::qWait(200);
    tick.stop();
    std::printf("TIME to_dots_ms %lld\nTIME longest_block_ms %lld\nTIME dots %lld\n", toDots, longest,
                qint64(view->list1.size()));
    report("dots");
    return true;
}

// Runs one scenario in this process against a host process; prints "STEP <name> <kB>" lines.
int runScenario(const QString& scenario, const QString& hostPath)
{
    QStringList hostArgs{QStringLiteral("--port"), QStringLiteral("0")};
    if (scenario == QLatin1String("HugePictures"))
        hostArgs << QStringLiteral("--test-huge-pictures");
    QString program = hostPath;
    if (scenario == QLatin1String("PointListAtCap")) {
        program = QCoreApplication::applicationFilePath();
        hostArgs = QStringList{QStringLiteral("--serve-point-list")};
    }
    const bool pictures = scenario.startsWith(QLatin1String("Picture:"));
    if (pictures) {
        program = QCoreApplication::applicationFilePath();
        hostArgs = QStringList{QStringLiteral("--serve-pictures=") + scenario.mid(8)};
    }
    QProcess host;
    host.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    host.start(program, hostArgs);
    QString field;
    if (host.waitForStarted(10000) && host.waitForReadyRead(30000)) {
        const QRegularExpressionMatch m =
            QRegularExpression(QStringLiteral("listening on (\\S+)")).match(QString::fromLatin1(host.readLine()));
        if (m.hasMatch())
            field = m.captured(1);
    }
    if (field.isEmpty()) {
        std::fprintf(stderr, "cannot start %s\n", qPrintable(hostPath));
        return 2;
    }
    report("start");
    if (scenario == QLatin1String("PointListAtCap")) {
        const bool ok = pointListAtCap(field);
        host.kill();
        host.waitForFinished(5000);
        std::_Exit(ok ? 0 : 1);
    }
    Walk walk;
    walk.hostField = field;
    walk.mosaic1280 = scenario == QLatin1String("Mosaic1280");
    walk.picturesMayFail = pictures;
    walk.levels = scenario == QLatin1String("HugePictures") ? 120 : 15;
    const bool ok = walk.run();
    host.kill();
    host.waitForFinished(5000);
    std::_Exit(ok ? 0 : 1);     // the windows are left as they are: the figures are taken
}

using Steps = std::vector<std::pair<std::string, double>>;
std::map<std::string, Steps> results;
std::map<std::string, double> times;
std::string self;

void runChild(benchmark::State& state, const char* scenario)
{
    for (auto _ : state) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QString::fromStdString(self), {QStringLiteral("--scenario=") + QLatin1String(scenario)});
        if (!child.waitForFinished(20 * 60 * 1000) || child.exitCode() != 0) {
            state.SkipWithError("the session did not run through");
            return;
        }
        Steps steps;
        for (const QByteArray& line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> f = line.split(' ');
            if (f.size() == 3 && f[0] == "STEP")
                steps.emplace_back(f[1].toStdString(), f[2].toDouble() / 1024.0);
            if (f.size() == 3 && f[0] == "TIME") {
                state.counters[f[1].toStdString()] = f[2].toDouble();
                times[f[1].toStdString()] = f[2].toDouble();
            }
        }
        if (steps.empty()) {
            state.SkipWithError("no figures");
            return;
        }
        state.counters["VmHWM_MiB"] = steps.back().second;
        results[scenario] = steps;
    }
}

void BM_Session640(benchmark::State& state) { runChild(state, "Session640"); }
void BM_Mosaic1280(benchmark::State& state) { runChild(state, "Mosaic1280"); }
void BM_HugePictures(benchmark::State& state) { runChild(state, "HugePictures"); }
BENCHMARK(BM_Session640)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_Mosaic1280)->Iterations(1)->Unit(benchmark::kSecond);
void BM_PointListAtCap(benchmark::State& state) { runChild(state, "PointListAtCap"); }
BENCHMARK(BM_HugePictures)->Iterations(1)->Unit(benchmark::kSecond);
BENCHMARK(BM_PointListAtCap)->Iterations(1)->Unit(benchmark::kSecond);

std::vector<std::string> pictureScenarios()
{
    std::vector<std::string> out;
    for (const char* kind : PictureKinds)
        for (const char* view : PictureViews)
            out.push_back(std::string("Picture:") + kind + ":" + view);
    out.push_back("Picture:Trailing:all");
    return out;
}

void printSteps()
{
    for (const auto& [scenario, steps] : results) {
        if (scenario.rfind("Picture:", 0) == 0)
            continue;
        std::printf("\n%s: VmHWM after each step (MiB)\n", scenario.c_str());
        for (const auto& [step, mib] : steps)
            std::printf("  %-16s %8.1f\n", step.c_str(), mib);
    }
    const auto last = [](const char* s) { return results.count(s) ? results[s].back().second : -1.0; };
    std::printf("\nTargets: Session640 %.1f (<= 150)", last("Session640"));
    if (results.count("Mosaic1280") && results.count("Session640"))
        std::printf(", Mosaic1280 %+.1f over Session640 (<= +15)", last("Mosaic1280") - last("Session640"));
    if (results.count("HugePictures"))
        std::printf(", HugePictures %.1f (<= 400)", last("HugePictures"));
    if (results.count("PointListAtCap"))
        std::printf(", PointListAtCap %.1f (<= 300) with the event loop blocked %.0f ms at most (<= 1000)",
                    last("PointListAtCap"), times["longest_block_ms"]);
    std::printf("\n");

    bool anyPicture = false;
    for (const auto& [scenario, steps] : results)
        anyPicture = anyPicture || scenario.rfind("Picture:", 0) == 0;
    if (!anyPicture)
        return;
    std::printf("\nPictures: VmHWM (MiB, <= 400) when every picture of a view is of one kind\n  %-16s", "");
    for (const char* view : PictureViews)
        std::printf(" %9s", view);
    std::printf("\n");
    for (const char* kind : PictureKinds) {
        std::printf("  %-16s", kind);
        for (const char* view : PictureViews) {
            const std::string name = std::string("Picture:") + kind + ":" + view;
            if (results.count(name))
                std::printf(" %9.1f", last(name.c_str()));
            else
                std::printf(" %9s", "-");
        }
        std::printf("\n");
    }
    if (results.count("Picture:Trailing:all"))
        std::printf("  %-16s all five %.1f\n", "Trailing", last("Picture:Trailing:all"));
}

} // namespace

int main(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]) == "--serve-point-list") {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QGuiApplication app(argc, argv);
            return servePointList();
        }
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--serve-pictures=", 0) == 0) {
            qputenv("QT_QPA_PLATFORM", "offscreen");
            QGuiApplication app(argc, argv);
            const QStringList what = QString::fromLatin1(argv[i] + 17).split(QLatin1Char(':'));
            return servePictures(what.value(0), what.value(1));
        }
    for (int i = 1; i < argc; ++i)
        if (std::string(argv[i]).rfind("--scenario=", 0) == 0) {
            if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
                qputenv("QT_QPA_PLATFORM", "offscreen");
            QApplication app(argc, argv);
            const QString hostPath = qEnvironmentVariableIsSet("BROLT_SIMHOST") ? qEnvironmentVariable("BROLT_SIMHOST")
                                                                                 : QStringLiteral(BROLT_SIMHOST);
            return runScenario(QString::fromLatin1(argv[i] + 11), hostPath);
        }
    QCoreApplication app(argc, argv);
    self = QCoreApplication::applicationFilePath().toStdString();
    static const std::vector<std::string> pictures = pictureScenarios();
    for (const std::string& name : pictures)
        benchmark::RegisterBenchmark(("BM_" + name).c_str(), [&name](benchmark::State& state) {
            runChild(state, name.c_str());
        })->Iterations(1)->Unit(benchmark::kSecond);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    printSteps();
    return 0;
}
