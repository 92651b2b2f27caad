// Every text of every window shows whole with the toolkit's own fonts.
#include "ClippedText.h"
#include "NeighborVideo.h"
#include "ReserveTimeWin.h"
#include "ScopeBrowser.h"
#include "Session.h"
#include "VideoWindow.h"

#include <QTest>
#include <functional>
#include <memory>

using Form = std::function<std::unique_ptr<QWidget>()>;
Q_DECLARE_METATYPE(Form)

class TestClippedTexts : public QObject
{
    Q_OBJECT
private slots:
    void everyTextFits_data();
    void everyTextFits();
};

void TestClippedTexts::everyTextFits_data()
{
    QTest::addColumn<Form>("form");
    QTest::newRow("log-in dialog") << Form([] { return std::make_unique<ScopeBrowser>(); });
    QTest::newRow("log-in dialog after a list") << Form([] {
        auto b = std::make_unique<ScopeBrowser>();
        b->connectToServer->setText(QStringLiteral("Refresh"));
        b->connectionStatus->setText(QStringLiteral("Connection Successful"));
        return b;
    });
    QTest::newRow("scheduling dialog") << Form([] { return std::make_unique<ReserveTimeWin>(); });
    QTest::newRow("scheduling dialog downloading") << Form([] {
        auto d = std::make_unique<ReserveTimeWin>();
        d->scopeLabel->setText(QStringLiteral("Downloading latest schedule..."));
        return d;
    });
    QTest::newRow("video window") << Form([] { return std::make_unique<VideoWindow>(); });
    QTest::newRow("control window") << Form([] { return std::make_unique<Session>(nullptr, nullptr, Qt::Window); });
    QTest::newRow("control window, corners set") << Form([] {
        // Both corners set, the library list asked for (with no host it fails at once, after the
        // label changed), a three-digit countdown.
        auto s = std::make_unique<Session>(nullptr, nullptr, Qt::Window);
        s->xCoord->setText(QStringLiteral("10.0000"));
        s->yCoord->setText(QStringLiteral("10.0000"));
        s->PushButton6->click();
        s->PushButton7->click();
        s->displayLibButton->click();
        s->secondsLeft = 1000 * 60;
        s->tickme();
        return s;
    });
    QTest::newRow("neighbour window") << Form([] { return std::make_unique<NeighborVideo>(); });
}

void TestClippedTexts::everyTextFits()
{
    QFETCH(Form, form);
    const std::unique_ptr<QWidget> w = form();
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w.get()));
    const QStringList clipped = clippedTexts(w.get());
    QVERIFY2(clipped.isEmpty(), qPrintable(clipped.join(QStringLiteral("; "))));
}

QTEST_MAIN(TestClippedTexts)
#include "tst_clippedtexts.moc"
