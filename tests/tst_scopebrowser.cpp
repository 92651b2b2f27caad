// Log-in dialog: the input check, the log-in request, the microscope list and its refresh.
#include "Auth.h"
#include "BoxCloser.h"
#include "RawPeer.h"
#include "LoginHelpers.h"
#include "ReserveTimeWin.h"
#include "HostText.h"
#include "ServiceConfig.h"

#include <QApplication>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTextFrame>
#include <QTest>

#include <algorithm>

namespace {
const QString signUp = QStringLiteral("\n\nTo sign up for a free account, please visit the\nKelvry website at ")
    + QStringLiteral(BROLT_WEBSITE);

// The log-in dialog on a test host, with its message boxes recorded.
struct Dialog
{
    TestHost host;
    ScopeBrowser b;
    BoxCloser boxes;
    bool connect() { return connectAndSweep(b, host); }
    // "Connect" or "Refresh", then the list is in.
    bool refresh()
    {
        b.connectToServer->click();
        return QTest::qWaitFor([this] { return !b.isListing(); }, 5000);
    }
};
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

QTEST_MAIN(TestScopeBrowser)
#include "tst_scopebrowser.moc"
