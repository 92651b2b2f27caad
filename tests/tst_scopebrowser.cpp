// Log-in dialog: the input check, the log-in request, the microscope list and its refresh,
// "Reserve Now", and the session ticket that hands over to the control window.
#include "Alerts.h"
#include "Auth.h"
#include "BoxCloser.h"
#include "HeldTimer.h"
#include "RawPeer.h"
#include "LoginHelpers.h"
#include "ReserveTimeWin.h"
#include "HostText.h"
#include "ServiceConfig.h"

#include <QDateTime>
#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextFrame>
#include <QTest>
#include <algorithm>
#include <memory>
#include <vector>

#include <algorithm>

namespace {
const QString signUp = QStringLiteral("\n\nTo sign up for a free account, please visit the\nKelvry website at ")
    + QStringLiteral(BROLT_WEBSITE);

// The log-in dialog on a test host, with its message boxes recorded. Its watch is held: a tick
// comes only from the test.
struct Dialog
{
    TestHost host;
    ScopeBrowser b;
    BoxCloser boxes;
    Dialog() { HeldTimer::hold(b.watch()); }
    bool connect() { return connectAndSweep(b, host); }
    // "Connect" or "Refresh", then the list is in.
    bool refresh()
    {
        b.connectToServer->click();
        return QTest::qWaitFor([this] { return !b.isListing(); }, 5000);
    }
};

// Stands in for the control window: records each session the dialog opens and shows a plain
// window for it.
struct OpenedSessions
{
    QList<SessionInfo> seen;
    std::vector<std::unique_ptr<QWidget>> windows;
    OpenedSessions()
    {
        ScopeBrowser::setSessionOpener([this](SessionInfo& info) {
            seen.append(info);
            windows.push_back(std::make_unique<QWidget>(nullptr, Qt::Window));
            windows.back()->show();
        });
    }
    ~OpenedSessions() { ScopeBrowser::setSessionOpener({}); }
};

// A logged-in dialog on the heap: a granted session deletes it.
struct Start
{
    TestHost host;
    BoxCloser boxes;
    OpenedSessions sessions;
    QPointer<ScopeBrowser> b = new ScopeBrowser;
    Start() { HeldTimer::hold(b->watch()); }        // ticks come from the test
    ~Start() { delete b; }
    bool connect() { return connectAndSweep(*b, host); }
};

const QString oneLineFailure =
    QStringLiteral("Error connecting to the Kelvry server. Please contact the server administrator");
}

class TestScopeBrowser : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { Auth::setRandomSource({}); }
    void formAtStart();
    void inputCheckTexts();
    void loginRequestAndList();
    void refusedLogin();
    void listFailureSelectsHost();
    void documentedListAndDescribe();
    void returnDescribesRefreshKeepsRow();
    void returnPressesFocusedButton();
    void busyConnectSendsOnce();
    void hostMarkupLoadsNothing();
    void hostMarkupBounded_data();
    void hostMarkupBounded();
    void brokenTransportsToLogInCheck_data();
    void brokenTransportsToLogInCheck();
    void hostileListsLeaveStateIntact_data();
    void hostileListsLeaveStateIntact();
    void reserveNow_data();
    void reserveNow();
    void ticketReplies_data();
    void ticketReplies();
    void repliesServeTheMicroscopeAskedFor();
    void ticketWhileBoxOpen();
    void hiddenDialogShowsNothing();
};

void TestScopeBrowser::formAtStart()
{
    ScopeBrowser b;
    QCOMPARE(b.windowTitle(), QStringLiteral("Brolt 2.4 - New Scope Session"));
    QCOMPARE(b.objectName(), QStringLiteral("ScopeBrowser"));
    QCOMPARE(b.hostName->text(), QStringLiteral(BROLT_DEFAULT_HOST));
    QCOMPARE(b.passwordBox->echoMode(), QLineEdit::Password);
    QCOMPARE(b.connectionStatus->text(), QStringLiteral("Ready to connect."));
    QCOMPARE(b.connectToServer->text(), QStringLiteral("Connect"));
    QVERIFY(b.connectToServer->isDefault());
    QVERIFY(!b.reserveButton->isEnabled() && !b.schedButton->isEnabled() && !b.beginButton->isEnabled());
    QCOMPARE(b.beginButton->toolTip(), QStringLiteral("Start Controlling the Microscope"));
    QCOMPARE(b.reserveButton->geometry(), QRect(380, 340, 119, 32));
    QCOMPARE(b.connectToServer->geometry(), QRect(660, 390, 90, 32));
    QCOMPARE(b.size(), QSize(762, 434).expandedTo(b.minimumSizeHint()));

    // Tab order as laid out.
    const QList<QWidget*> order = {b.loginBox, b.passwordBox, b.reserveButton, b.schedButton,
                                   b.beginButton, b.hostName, b.bannerBox, b.scopeListBox,
                                   b.descriptionBox, b.connectToServer, b.cancelButton};
    for (int i = 0; i + 1 < order.size(); ++i) {
        QWidget* next = order[i]->nextInFocusChain();
        while (next && next->focusPolicy() == Qt::NoFocus && next != order[i + 1])
            next = next->nextInFocusChain();
        QVERIFY2(next == order[i + 1], qPrintable(order[i]->objectName()));
    }
}

void TestScopeBrowser::inputCheckTexts()
{
    Dialog d;
    d.b.hostName->setText(d.host.field());
    d.b.connectToServer->click();
    d.b.loginBox->setText("guest");
    d.b.connectToServer->click();
    d.b.loginBox->clear();
    d.b.passwordBox->setText("guest");
    d.b.connectToServer->click();
    QCOMPARE(d.boxes.titles(), QStringList(3, QStringLiteral("Info Entry Problem")));
    QCOMPARE(d.boxes.seen[0].icon, QMessageBox::Warning);
    QCOMPARE(d.boxes.seen[0].text, "Please provide a login name and password!" + signUp);
    QCOMPARE(d.boxes.seen[1].text, "Please provide a password!" + signUp);
    QCOMPARE(d.boxes.seen[2].text, "Please provide a login name" + signUp);
    QVERIFY(d.host->log().isEmpty());

    // Once a list has arrived, the same check leaves out the sign-up lines.
    QVERIFY(d.connect());
    d.b.loginBox->clear();
    QVERIFY(!d.b.checkInfo());
    QCOMPARE(d.boxes.seen.last().text, QStringLiteral("Please provide a login name"));
}

void TestScopeBrowser::loginRequestAndList()
{
    Dialog d;
    Auth::setRandomSource([] { return 0x1234u; });
    QVERIFY(connectAndSweep(d.b, d.host, "alice", "secret"));
    QVERIFY(d.boxes.seen.isEmpty());
    QCOMPARE(d.host.queries("iserv:checkauth"), QList<QByteArray>{"f=checkauth&l=alice&auth=2434&rndsd=1234"});
    QCOMPARE(d.host.queries("iserv:i"), QList<QByteArray>{"f=i"});
    // The sweep asks for each microscope in list order, login before microscope.
    QCOMPARE(d.host.queries("iserv:cwt"),
             (QList<QByteArray>{"f=cwt&l=alice&s=tall", "f=cwt&l=alice&s=handsome", "f=cwt&l=alice&s=dark"}));
    QVERIFY(d.b.watch().isActive());

    QCOMPARE(d.b.connectionStatus->text(), QStringLiteral("Connection Successful"));
    QCOMPARE(d.b.connectToServer->text(), QStringLiteral("Refresh"));
    QCOMPARE(d.b.scopeListBox->count(), 3);
    QCOMPARE(d.b.scopeListBox->currentRow(), 0);
    QVERIFY(d.b.bannerBox->toPlainText().contains("Brolt demonstration host"));
    QVERIFY(d.b.descriptionBox->toPlainText().contains("upright slide scanner"));
    QCOMPARE(d.b.slideList->count(), 3);
    QCOMPARE(d.b.slideList->item(0)->text(), QStringLiteral("liver01"));
    QVERIFY(d.b.reserveButton->isEnabled() && d.b.schedButton->isEnabled());      // "$tall"
    QVERIFY(!d.b.beginButton->isEnabled());

    // Highlighting another row describes it; "#handsome" cannot be reserved now.
    d.b.scopeListBox->setCurrentRow(1);
    QVERIFY(!d.b.reserveButton->isEnabled());
    QCOMPARE(d.b.slideList->item(0)->text(), QStringLiteral("colon11"));

    // "Refresh" fetches the list again without a new log-in check or sweep.
    QVERIFY(d.refresh());
    QCOMPARE(d.host->count("iserv:i"), 2);
    QCOMPARE(d.host->count("iserv:checkauth"), 1);
    QCOMPARE(d.host->count("iserv:cwt"), 3);
}

void TestScopeBrowser::refusedLogin()
{
    Dialog d;
    // A fixed random part: with some values a wrong key rotates into the right check string.
    Auth::setRandomSource([] { return 0x1234u; });
    fillLogin(d.b, d.host, "alice", "wrong password");
    d.b.connectToServer->click();
    QVERIFY(d.boxes.waitFor(1));
    QCOMPARE(d.boxes.seen[0].title, QStringLiteral("Authentication Failed"));
    QCOMPARE(d.boxes.seen[0].text, "The server rejected your username and password." + signUp);
    QTest::qWait(100);
    QCOMPARE(d.host->count("iserv:i"), 0);
    QCOMPARE(d.b.connectToServer->text(), QStringLiteral("Connect"));
}


void TestScopeBrowser::listFailureSelectsHost()
{
    Dialog d;
    d.host->scriptReply("iserv:i", 404, "");
    fillLogin(d.b, d.host, "guest", "guest");
    d.b.connectToServer->click();
    QVERIFY(d.boxes.waitFor(1));
    QCOMPARE(d.boxes.seen[0].title, QStringLiteral("Connection Failed"));
    QCOMPARE(d.boxes.seen[0].text, QStringLiteral("No Kelvry server could be found at the given hostname"));
    QCOMPARE(d.b.connectionStatus->text(), QStringLiteral("Connection Failed."));
    QCOMPARE(d.b.hostName->selectedText(), d.host.field());
    QVERIFY(d.b.isFirstConnect() && d.b.isListing());

    // The next "Connect" runs the log-in check again.
    d.host->clearScripts();
    d.b.connectToServer->click();
    QTRY_COMPARE(d.host->count("iserv:checkauth"), 2);
    QTRY_VERIFY(!d.b.isFirstConnect());
}

void TestScopeBrowser::documentedListAndDescribe()
{
    Dialog d;
    d.host->scriptReply("iserv:i", 200,
                        "Welcome\n$Scope A\n60\nFirst scope.\n^\nslide1\nslide2\n^\n#Scope B\n30\nSecond.\n^\nslideX\n^\n");
    d.host->scriptReply("iserv:cwt", 200, "*");
    QVERIFY(d.connect());
    QCOMPARE(d.b.bannerBox->toPlainText(), QStringLiteral("Welcome"));
    QCOMPARE(d.b.scopeListBox->count(), 2);
    QCOMPARE(d.b.slideList->count(), 2);
    QVERIFY(d.b.reserveButton->isEnabled());
    QCOMPARE(d.host->requests("iserv:cwt")[1].value("s"), QStringLiteral("Scope B"));

    d.b.scopeListBox->setCurrentRow(1);
    QCOMPARE(d.b.descriptionBox->toPlainText().trimmed(), QStringLiteral("Second."));
    QVERIFY(!d.b.reserveButton->isEnabled());
    // Rows outside the list describe nothing.
    d.b.describeScope(2);
    d.b.describeScope(-1);
    QCOMPARE(d.b.slideList->count(), 1);
    QCOMPARE(d.b.slideList->item(0)->text(), QStringLiteral("slideX"));
    QVERIFY(d.boxes.seen.isEmpty());
}

void TestScopeBrowser::returnDescribesRefreshKeepsRow()
{
    Dialog d;
    QVERIFY(d.connect());
    // Return on a row describes it; the default button is not pressed.
    d.b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.b));
    d.b.scopeListBox->setFocus();
    d.b.scopeListBox->setCurrentRow(2);
    QTest::keyClick(d.b.scopeListBox, Qt::Key_Return);
    QTest::qWait(100);
    QCOMPARE(d.b.slideList->item(0)->text(), QStringLiteral("heart21"));
    QCOMPARE(d.host->count("iserv:i"), 1);

    QVERIFY(d.refresh());
    QCOMPARE(d.b.scopeListBox->currentRow(), 2);
    QCOMPARE(d.b.slideList->item(0)->text(), QStringLiteral("heart21"));

    // The host lists its microscopes in another order: the same microscope stays selected.
    std::reverse(d.host->world().scopes.begin(), d.host->world().scopes.end());
    QVERIFY(d.refresh());
    QCOMPARE(d.b.scopeListBox->currentRow(), 0);
    QCOMPARE(d.b.scopeListBox->currentItem()->text(), QStringLiteral("dark"));
    QCOMPARE(d.b.slideList->item(0)->text(), QStringLiteral("heart21"));
    QVERIFY(d.b.descriptionBox->toPlainText().contains("survey scanner"));
    std::reverse(d.host->world().scopes.begin(), d.host->world().scopes.end());
    QVERIFY(d.refresh());
    QCOMPARE(d.b.scopeListBox->currentRow(), 2);

    // A shorter list: no row is current.
    d.host->world().scopes.removeLast();
    QVERIFY(d.refresh());
    QCOMPARE(d.b.scopeListBox->count(), 2);
    QCOMPARE(d.b.scopeListBox->currentRow(), -1);
    QVERIFY(d.b.schedButton->isEnabled());
    QCOMPARE(d.b.slideList->count(), 0);
}

void TestScopeBrowser::returnPressesFocusedButton()
{
    Dialog d;
    d.b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.b));
    // In a text field, Return presses the default button, "Connect".
    d.b.hostName->setFocus();
    QTest::keyClick(d.b.hostName, Qt::Key_Return);
    QCOMPARE(d.boxes.titles(), QStringList{"Info Entry Problem"});

    // On a focused button it presses that button: "Scheduling..." asks nothing of the list.
    QVERIFY(d.connect());
    d.b.schedButton->setFocus();
    QTest::keyClick(d.b.schedButton, Qt::Key_Return);
    QVERIFY(d.boxes.waitFor(2));
    QCOMPARE(d.boxes.seen[1].title, QStringLiteral("Kelvry Control Time"));
    QTRY_COMPARE(d.host->count("iserv:cck"), 1);
    QCOMPARE(d.host->count("iserv:i"), 1);

    // Back in a field, Connect (now "Refresh") is the default again.
    d.b.loginBox->setFocus();
    QTest::keyClick(d.b.loginBox, Qt::Key_Return);
    QTRY_COMPARE(d.host->count("iserv:i"), 2);

    // "Exit" ends the dialog.
    QTRY_VERIFY(!d.b.isListing());
    d.b.cancelButton->setFocus();
    QTest::keyClick(d.b.cancelButton, Qt::Key_Return);
    QVERIFY(!d.b.isVisible());
    QCOMPARE(d.boxes.seen.size(), 2);
    QCOMPARE(d.host->count("iserv:i"), 2);
    for (QWidget* w : QApplication::topLevelWidgets())
        if (qobject_cast<ReserveTimeWin*>(w))
            delete w;
}

void TestScopeBrowser::busyConnectSendsOnce()
{
    Dialog d;
    d.host->setDelay("iserv:checkauth", 300);
    fillLogin(d.b, d.host, "guest", "guest");
    d.b.connectToServer->click();
    d.b.connectToServer->click();
    QTRY_VERIFY_WITH_TIMEOUT(!d.b.isFirstConnect(), 5000);
    QCOMPARE(d.host->count("iserv:checkauth"), 1);
    QCOMPARE(d.host->count("iserv:i"), 1);
}

void TestScopeBrowser::hostMarkupLoadsNothing()
{
    // Markup from the host is shown as rich text, but names no file the program would read.
    QTemporaryDir dir;
    const QString png = dir.filePath("local.png");
    QImage(8, 8, QImage::Format_RGB32).save(png);
    const QString img = "<img src=\"" + png + "\">";
    Dialog d;
    d.host->world().banner = "<p>Banner " + img + "</p>\n";
    d.host->world().scopes[0].description = "<b>tall</b>" + img;
    QVERIFY(d.connect());
    QVERIFY(d.b.bannerBox->toPlainText().contains("Banner"));
    QVERIFY(d.b.descriptionBox->toHtml().contains("<b>") || d.b.descriptionBox->toHtml().contains("font-weight"));
    for (QTextDocument* doc : {d.b.bannerBox->document(), d.b.descriptionBox->document()})
        for (const QUrl& u : {QUrl(png), QUrl::fromLocalFile(png)}) {
            const QVariant r = doc->resource(QTextDocument::ImageResource, u);
            QVERIFY(r.isNull() || (r.typeId() == QMetaType::QByteArray && r.toByteArray().isEmpty()));
        }

    // A microscope name with markup is shown as it is in the boxes that name it.
    d.host->world().scopes[0].name = "<b>x</b>";
    QVERIFY(d.refresh());
    d.b.scopeListBox->setCurrentRow(0);
    d.b.schedButton->click();
    QVERIFY(d.boxes.waitFor(1));
    QVERIFY(d.boxes.seen[0].text.contains("\"<b>x</b>\""));
}

void TestScopeBrowser::hostMarkupBounded_data()
{
    QTest::addColumn<bool>("inBanner");     // else in the first microscope's description
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("markup");       // laid out as markup
    const auto times = [](const char* piece, int n) { return QString(piece).repeated(n); };
    QTest::newRow("22 nested tables") << true << times("<table><tr><td>", 22) << false;
    QTest::newRow("20,000 nested tables") << true << times("<table><tr><td>", 20000) << false;
    QTest::newRow("100,000 nested b") << false << times("<b>", 100000) + "deep" << false;
    QTest::newRow("1 MB line") << true << QString(1 << 20, QLatin1Char('x')) << false;
    // Ends that markup leaves out do not count as nesting.
    QTest::newRow("ordinary banner") << true
        << "<h3>Welcome</h3><table border=1><tr><td><b>Open</b><td>9-17</table><ul>" + times("<li><p>item<br>", 40)
        << true;
    QTest::newRow("ordinary description") << false
        << "<b>tall</b>: <i>40x</i><br>\n<table><tr><td><table><tr><td>nested</td></tr></table></td></tr></table>" << true;
}

void TestScopeBrowser::hostMarkupBounded()
{
    QFETCH(bool, inBanner);
    QFETCH(QString, text);
    QFETCH(bool, markup);
    Dialog d;
    if (inBanner)
        d.host->world().banner = text;
    else
        d.host->world().scopes[0].description = text;
    d.b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&d.b));
    QVERIFY(d.connect());
    QTextEdit* view = inBanner ? static_cast<QTextEdit*>(d.b.bannerBox) : d.b.descriptionBox;
    (void)d.b.grab();               // laid out and painted
    const QString shown = view->toPlainText();
    const bool tables = !view->document()->rootFrame()->childFrames().isEmpty();
    if (markup) {
        QVERIFY(tables);
        QVERIFY(!shown.contains("<b>") && shown.contains(inBanner ? "Open" : "nested"));
    } else {
        // Plain text: the markup shows as it is, no table is laid out, no line is longer than
        // the limit, and a text beyond the size limit is cut with a mark.
        QVERIFY(!tables);
        QVERIFY(shown.startsWith(text.left(64)));
        for (const QString& line : shown.split('\n'))
            QVERIFY(line.toUtf8().size() <= HostMarkup::MaxLineBytes);
        const bool cut = text.toUtf8().size() > HostMarkup::MaxTotalBytes;
        QCOMPARE(shown.endsWith(QString::fromLatin1(HostMarkup::CutMark)), cut);
        QVERIFY(shown.toUtf8().size() <= HostMarkup::MaxTotalBytes + 2 * HostMarkup::MaxTotalBytes / HostMarkup::MaxLineBytes);
    }
    // The dialog goes on taking typing.
    d.b.loginBox->clear();
    QTest::keyClicks(d.b.loginBox, "typed");
    QCOMPARE(d.b.loginBox->text(), QStringLiteral("typed"));
    QVERIFY(d.boxes.seen.isEmpty());
}

void TestScopeBrowser::brokenTransportsToLogInCheck_data()
{
    QTest::addColumn<QByteArray>("response");
    QTest::addColumn<int>("cutAfter");
    QTest::addColumn<QString>("title");
    QTest::newRow("cut short") << RawPeer::reply200("+OK\n", 50) << -1 << "Connection Failure";
    QTest::newRow("dropped") << QByteArray() << 0 << "Connection Failure";
    QTest::newRow("empty body") << RawPeer::reply200("") << -1 << "Authentication Failed";
    QTest::newRow("5 MB") << RawPeer::reply200(QByteArray(5 * 1024 * 1024, '-')) << -1 << "Authentication Failed";
    QTest::newRow("garbage status line") << QByteArray("HTTP/9 ???\r\n\r\n+OK") << -1 << "Connection Failure";
}

void TestScopeBrowser::brokenTransportsToLogInCheck()
{
    QFETCH(QByteArray, response);
    QFETCH(int, cutAfter);
    QFETCH(QString, title);
    RawPeer peer;
    peer.response = response;
    peer.cutAfter = cutAfter;
    ScopeBrowser b;
    BoxCloser boxes;
    b.hostName->setText(peer.hostField());
    b.loginBox->setText("guest");
    b.passwordBox->setText("guest");
    b.connectToServer->click();
    QVERIFY(boxes.waitFor(1, 10000));
    QCOMPARE(boxes.seen[0].title, title);
    if (title == QLatin1String("Connection Failure"))
        QCOMPARE(boxes.seen[0].text, QStringLiteral("Error connecting to the Kelvry server.\n"
                                                    "Please contact the server administrator. (file scpbrwsr)"));
    QTest::qWait(50);
    QCOMPARE(boxes.seen.size(), 1);
    QVERIFY(b.isFirstConnect());
    QCOMPARE(b.scopeListBox->count(), 0);
    // The network layer may send the request again on a connection closed with no valid answer.
    QVERIFY(!peer.requests.isEmpty());
}

void TestScopeBrowser::hostileListsLeaveStateIntact_data()
{
    QTest::addColumn<QByteArray>("body");
    QTest::newRow("empty") << QByteArray();
    QTest::newRow("one byte") << QByteArray("$");
    QTest::newRow("cut in description") << QByteArray("B\n$A\n10\ndescription that never ends");
    QTest::newRow("no terminator") << QByteArray("B\n$A\n10\nd\n^\nslide1\nslide2");
    QTest::newRow("nul bytes") << QByteArray("B\n$A\0\n10\nd\n^\ns\0x\n^\n", 20);
    QByteArray big(5 * 1024 * 1024, 'x');
    for (int i = 0; i < big.size(); i += 997)
        big[i] = "$#^\n"[(i / 997) % 4];
    QTest::newRow("5 MB") << big;
}

void TestScopeBrowser::hostileListsLeaveStateIntact()
{
    QFETCH(QByteArray, body);
    Dialog d;
    d.host->scriptReply("iserv:i", 200, body);
    d.host->scriptReply("iserv:cwt", 200, "*");
    fillLogin(d.b, d.host, "guest", "guest");
    d.b.connectToServer->click();
    QTRY_VERIFY_WITH_TIMEOUT(!d.b.isFirstConnect(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!d.b.sweepRunning(), 10000);
    QCOMPARE(d.b.records().size(), d.b.scopeListBox->count());
    QCOMPARE(d.b.connectionStatus->text(), QStringLiteral("Connection Successful"));
    // The dialog still works: a good list afterwards is shown as usual.
    d.host->clearScripts();
    QVERIFY(d.refresh());
    QCOMPARE(d.b.scopeListBox->count(), 3);
    QVERIFY(d.b.bannerBox->toPlainText().contains("Brolt demonstration host"));
}

void TestScopeBrowser::reserveNow_data()
{
    QTest::addColumn<QByteArray>("earlierTicket");  // a reply to a first press, or none
    QTest::addColumn<QByteArray>("ticket");         // empty: the host's own
    QTest::addColumn<QByteArray>("reservation");    // empty: the host's own
    QTest::addColumn<int>("switchTo");              // row selected while the ticket is out
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QString>("text");              // of the last box; empty: not compared
    QTest::addColumn<bool>("reserved");

    const QString more = QStringLiteral("\nFor more control time, use the \"Scheduling...\" button.");
    const QString refusedTicket = QStringLiteral("The server rejected your username as unauthorized for this microscope.");
    QTest::newRow("granted, nothing next")
        << QByteArray() << QByteArray() << QByteArray("+OK 1800 -1") << -1 << QStringList{"Success!"}
        << "Your control time: 30 mins  0 secs\nNext reserved time: <none>" + more << true;
    QTest::newRow("bare plus: defaults")
        << QByteArray() << QByteArray() << QByteArray("+") << -1 << QStringList{"Success!"}
        << "Your control time:  2 mins  0 secs\nNext reserved time: Thu Jan 1 00:00:00 1970" + more << true;
    QTest::newRow("negative seconds, a next start")
        << QByteArray() << QByteArray() << QByteArray("+OK -30 1800000000\n") << -1 << QStringList{"Success!"}
        << "Your control time:  0 mins -30 secs\nNext reserved time: Fri Jan 15 08:00:00 2027" + more << true;
    QTest::newRow("reservation refused")
        << QByteArray() << QByteArray() << QByteArray("-T") << -1 << QStringList{"Reservation Failed"}
        << QStringLiteral("Reservation failed because there are fewer than\nfive minutes remaining until the next "
                          "reservation.\nPlease use the \"Scheduling...\" button and reserve a time for later.")
        << false;
    QTest::newRow("ticket refused")
        << QByteArray() << QByteArray("-N") << QByteArray() << -1 << QStringList{"Scheduling Failed"}
        << refusedTicket << false;
    // The earlier reply's bytes lie where a ticket would be read.
    QTest::newRow("plus without a ticket after a longer reply")
        << QByteArray("-N   5a17c3e9") << QByteArray("+OK") << QByteArray() << -1
        << QStringList{"Scheduling Failed", "Scheduling Failed"} << refusedTicket << false;
    QTest::newRow("row changed while the ticket is out")
        << QByteArray() << QByteArray() << QByteArray() << 2 << QStringList{"Success!"} << QString() << true;
}

void TestScopeBrowser::reserveNow()
{
    QFETCH(QByteArray, earlierTicket);
    QFETCH(QByteArray, ticket);
    QFETCH(QByteArray, reservation);
    QFETCH(int, switchTo);
    QFETCH(QStringList, titles);
    QFETCH(QString, text);
    QFETCH(bool, reserved);
    Dialog d;
    QVERIFY(d.connect());
    QVERIFY(!d.b.beginButton->isEnabled());
    if (!earlierTicket.isEmpty()) {
        d.host->scriptReply("iserv:sticket", 200, earlierTicket);
        d.b.reserveButton->click();
        QVERIFY(d.boxes.waitFor(1));
    }
    if (!ticket.isEmpty())
        d.host->scriptReply("iserv:sticket", 200, ticket);
    if (!reservation.isEmpty())
        d.host->scriptReply("iserv:schdnow", 200, reservation);
    d.host->setDelay("iserv:sticket", 200);
    d.b.reserveButton->click();
    if (switchTo >= 0) {
        // Another reservable microscope; its press finds the ticket request busy.
        d.b.scopeListBox->setCurrentRow(switchTo);
        d.b.reserveButton->click();
    }
    QVERIFY(d.boxes.waitFor(int(titles.size())));
    QTRY_VERIFY(!d.b.isListing());
    QTest::qWait(50);
    QCOMPARE(d.boxes.titles(), titles);
    if (!text.isEmpty())
        QCOMPARE(d.boxes.seen.last().text, text);

    const QList<QByteArray> tickets = d.host.queries("iserv:sticket");
    QCOMPARE(tickets.size(), earlierTicket.isEmpty() ? 1 : 2);
    QCOMPARE(tickets.last(), QByteArray("f=sticket&s=tall&l=guest"));
    const bool sent = ticket.isEmpty();
    const QList<QByteArray> reservations = d.host.queries("iserv:schdnow");
    QCOMPARE(reservations.size(), sent ? 1 : 0);
    // Any answer to the reservation refreshes the list, keeping the row.
    QCOMPARE(d.host->count("iserv:i"), sent ? 2 : 1);
    QCOMPARE(d.b.scopeListBox->currentRow(), switchTo >= 0 ? switchTo : 0);
    if (sent)
        QVERIFY(reservations[0].startsWith("f=schdnow&s=tall&l=guest&auth="));
    QCOMPARE(d.b.timerFor("tall")->active, reserved);
    QVERIFY(!d.b.timerFor("dark")->active);
    QCOMPARE(d.b.beginButton->isEnabled(), reserved && switchTo < 0);
    if (switchTo >= 0) {
        // The host took the ticket issued for "tall" with it and booked that microscope.
        const auto& booked = d.host->world().scopes[0].schedule;
        QVERIFY(std::any_of(booked.begin(), booked.end(), [](const Reservation& r) { return r.login == "guest"; }));
    }
}

void TestScopeBrowser::ticketReplies_data()
{
    QTest::addColumn<QByteArray>("earlier");        // a reply to a first press, or none
    QTest::addColumn<QByteArray>("reply");
    QTest::addColumn<QStringList>("titles");
    QTest::addColumn<QString>("text");              // of the last box
    QTest::addColumn<QStringList>("debugLines");

    QTest::newRow("refused login") << QByteArray() << QByteArray("-NO_AUTHORIZATION")
        << QStringList{"Authorization Failed"}
        << QStringLiteral("The server rejected the username and password pair you supplied.") << QStringList();
    QTest::newRow("not scheduled") << QByteArray() << QByteArray("-UNSCHEDULED")
        << QStringList{"User Not Scheduled on Scope \"tall\""}
        << QStringLiteral("The server reported that you were not scheduled for access at this time.") << QStringList();
    QTest::newRow("refusal code with a line end") << QByteArray() << QByteArray("-NO_AUTHORIZATION\n")
        << QStringList{"Connection Failure"} << oneLineFailure
        << QStringList{"Reply string was -NO_AUTHORIZATION\n"};
    QTest::newRow("other refusal, format characters") << QByteArray() << QByteArray("-E %s%n%x")
        << QStringList{"Connection Failure"} << oneLineFailure << QStringList{"Reply string was -E %s%n%x"};
    QTest::newRow("empty") << QByteArray() << QByteArray()
        << QStringList{"Connection Failure"} << oneLineFailure << QStringList{"Reply string was "};
    // The earlier reply's bytes lie where the ticket would be read.
    QTest::newRow("short plus after a longer reply") << QByteArray("-XY 1c0ffee") << QByteArray("+")
        << QStringList{"Connection Failure", "Connection Failure"} << oneLineFailure
        << QStringList{"Reply string was -XY 1c0ffee", "Reply string was +"};
    QTest::newRow("granted") << QByteArray() << QByteArray("+OK 1c0ffee") << QStringList() << QString()
        << QStringList();
    // The ticket starts at the fourth byte.
    QTest::newRow("granted, ticket right after OK") << QByteArray() << QByteArray("+OK1c0ffee") << QStringList()
        << QString() << QStringList();
}

void TestScopeBrowser::ticketReplies()
{
    QFETCH(QByteArray, earlier);
    QFETCH(QByteArray, reply);
    QFETCH(QStringList, titles);
    QFETCH(QString, text);
    QFETCH(QStringList, debugLines);
    Start s;
    QVERIFY(s.connect());
    s.b->show();
    for (const QString& line : debugLines)
        QTest::ignoreMessage(QtDebugMsg, qPrintable(line));
    if (!earlier.isEmpty()) {
        s.host->scriptReply("iserv:ticket", 200, earlier);
        s.b->startsession();
        QVERIFY(s.boxes.waitFor(1));
    }
    s.host->scriptReply("iserv:ticket", 200, reply);
    s.b->startsession();
    QTRY_COMPARE(s.host->count("iserv:ticket"), earlier.isEmpty() ? 1 : 2);
    QCOMPARE(s.host.queries("iserv:ticket").last(), QByteArray("f=ticket&s=tall&l=guest"));

    if (titles.isEmpty()) {
        QTRY_VERIFY(s.b.isNull());
        QCOMPARE(s.sessions.seen.size(), 1);
        const SessionInfo& info = s.sessions.seen[0];
        QCOMPARE(info.host, s.host.field());
        QCOMPARE(info.scope.name, QStringLiteral("tall"));
        QCOMPARE(info.scope.slides.value(0), QStringLiteral("liver01"));
        QCOMPARE(info.login, QStringLiteral("guest"));
        QCOMPARE(info.password, QStringLiteral("guest"));
        QCOMPARE(info.ticket, 0x1c0ffeeu);
        QCOMPARE(info.baseQuery, QStringLiteral("/cgi-bin/iserv?l=guest&s=tall&"));
        QVERIFY(s.sessions.windows[0]->isVisible());
        QVERIFY(s.boxes.seen.isEmpty());
        return;
    }
    QVERIFY(s.boxes.waitFor(int(titles.size())));
    QTest::qWait(50);
    QCOMPARE(s.boxes.titles(), titles);
    QCOMPARE(s.boxes.seen.last().icon, QMessageBox::Warning);
    QCOMPARE(s.boxes.seen.last().text, text);
    QVERIFY(s.sessions.seen.isEmpty());
    QVERIFY(s.b && s.b->isVisible());
}

void TestScopeBrowser::repliesServeTheMicroscopeAskedFor()
{
    Start s;
    // The guest holds time on "tall" now.
    s.host->world().scopes[0].schedule.append({"guest", QDateTime::currentSecsSinceEpoch() - 10, 600});
    QVERIFY(s.connect());
    QVERIFY(s.b->beginButton->isEnabled());

    // Without a current row the buttons send nothing.
    s.b->scopeListBox->setCurrentRow(-1);
    s.b->startsession();
    QMetaObject::invokeMethod(s.b, "getSticket");
    QTest::qWait(50);
    QCOMPARE(s.host->count("iserv:ticket") + s.host->count("iserv:sticket"), 0);
    QVERIFY(s.boxes.seen.isEmpty());

    // The row, login and password change while the ticket is out; a second press is dropped.
    s.b->scopeListBox->setCurrentRow(0);
    s.host->setDelay("iserv:ticket", 200);
    s.b->startsession();
    s.b->scopeListBox->setCurrentRow(2);
    s.b->loginBox->setText("alice");
    s.b->passwordBox->setText("secret");
    s.b->startsession();
    QTRY_VERIFY(s.b.isNull());
    QCOMPARE(s.host.queries("iserv:ticket"), QList<QByteArray>{"f=ticket&s=tall&l=guest"});
    QCOMPARE(s.sessions.seen.size(), 1);
    const SessionInfo& info = s.sessions.seen[0];
    QCOMPARE(info.scope.name, QStringLiteral("tall"));
    QCOMPARE(info.login, QStringLiteral("guest"));
    QCOMPARE(info.baseQuery, QStringLiteral("/cgi-bin/iserv?l=guest&s=tall&"));
    // The ticket keys requests the host takes for that microscope.
    Auth a;
    a.setKey(info.password);
    a.setToken(info.ticket);
    QVERIFY(s.host->world().checkRequest("session", "guest", "tall", a.requestString()));
    QVERIFY(s.boxes.seen.isEmpty());
}

void TestScopeBrowser::ticketWhileBoxOpen()
{
    Start s;
    s.host->scriptReply("iserv:cwt", 200, "0 600");      // windows starting now: the next tick announces
    s.host->scriptReply("iserv:ticket", 200, "+OK 1c0ffee");
    QVERIFY(s.connect());
    s.b->show();
    bool hiddenUnderBox = false;
    s.boxes.onBox = [&](const BoxCloser::Box& box) {
        if (box.title != QLatin1String("Control Message") || !s.sessions.seen.isEmpty())
            return;
        s.b->startsession();
        QVERIFY(QTest::qWaitFor([&] { return !s.sessions.seen.isEmpty(); }, 5000));
        QTest::qWait(20);
        QWidget* open = QApplication::activeModalWidget();
        hiddenUnderBox = s.b && !s.b->isVisible() && Alerts::openBoxes() == 1 && open && open->isVisible();
    };
    QMetaObject::invokeMethod(s.b, "tickTock", Qt::DirectConnection);
    QVERIFY(hiddenUnderBox);
    // The box has closed: the dialog goes, and no other microscope is announced after it.
    QTRY_VERIFY(s.b.isNull());
    QTest::qWait(50);
    QCOMPARE(s.boxes.titles(), QStringList{"Control Message"});
    QVERIFY(s.sessions.windows[0]->isVisible());
}

void TestScopeBrowser::hiddenDialogShowsNothing()
{
    // A box keeps the dialog hidden after the session opened. Replies that arrive then show
    // nothing: a failed refresh, log-in check and watch sweep, and the clock "Scheduling..." asked for;
    // a booking made in a scheduling dialog restarts no watch.
    Start s;
    s.host->scriptReply("iserv:cwt", 200, "0 600");      // windows starting now: the next tick announces
    s.host->scriptReply("iserv:ticket", 200, "+OK 1c0ffee");
    QVERIFY(s.connect());
    s.b->show();
    // The late replies are held until the dialog is hidden.
    bool hidden = false;
    const auto heldReply = [&hidden](int status, const QByteArray& body) {
        return [&hidden, status, body](const HostRequest&) {
            HostReply r = HostReply::text(body);
            r.status = status;
            r.ready = [&hidden](HostReply&) { return hidden; };
            return r;
        };
    };
    s.host->script("iserv:cck", heldReply(200, "1700000000\n"));
    s.b->schedButton->click();              // after its box, the clock request
    QStringList late;
    s.boxes.onBox = [&](const BoxCloser::Box& box) {
        if (box.title != QLatin1String("Control Message") || !s.sessions.seen.isEmpty())
            return;
        BoxCloser closer;                   // this box's closer runs below us
        for (const char* route : {"iserv:i", "iserv:checkauth", "iserv:cwt"})
            s.host->script(route, heldReply(500, ""));
        s.b->startsession();
        s.b->connectToServer->click();
        s.b->checkAuth();
        s.b->initTimers();
        QVERIFY(QTest::qWaitFor([&] { return !s.sessions.seen.isEmpty(); }, 5000));
        QVERIFY(s.b && !s.b->isVisible());
        hidden = true;
        s.b->startSchedTimerFor(QStringLiteral("tall"), -60, 600);
        QVERIFY(!s.b->watch().isActive());
        QTest::qWait(600);
        late = closer.titles();
    };
    QMetaObject::invokeMethod(s.b, "tickTock", Qt::DirectConnection);
    QTRY_VERIFY(s.b.isNull());
    QCOMPARE(late, QStringList());
    QCOMPARE(s.boxes.titles(), QStringList({"Kelvry Control Time", "Control Message"}));
    for (QWidget* w : QApplication::topLevelWidgets())
        QVERIFY(!qobject_cast<ReserveTimeWin*>(w));
    QCOMPARE(s.host->count("iserv:getschd"), 0);
}

QTEST_MAIN(TestScopeBrowser)
#include "tst_scopebrowser.moc"
