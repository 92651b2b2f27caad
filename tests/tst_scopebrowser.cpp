// Log-in dialog: the input check, the log-in request, the microscope list and its refresh.
#include "Auth.h"
#include "BoxCloser.h"
#include "RawPeer.h"
#include "LoginHelpers.h"
#include "ServiceConfig.h"

#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTextDocument>
#include <QTest>

namespace {
const QString signUp = QStringLiteral("\n\nTo sign up for a free account, please visit the\nKelvry website at ")
    + QStringLiteral(BROLT_WEBSITE);
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
    void unreachableHost();
    void listFailureSelectsHost();
    void documentedListAndDescribe();
    void refreshKeepsRow();
    void refreshShorterList();
    void busyConnectSendsOnce();
    void returnOnRowDescribesOnly();
    void hostMarkupLoadsNothing();
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
    QVERIFY(b.loginBox->text().isEmpty());
    QCOMPARE(b.passwordBox->echoMode(), QLineEdit::Password);
    QCOMPARE(b.connectionStatus->text(), QStringLiteral("Ready to connect."));
    QCOMPARE(b.connectToServer->text(), QStringLiteral("Connect"));
    QVERIFY(b.connectToServer->isDefault());
    QVERIFY(!b.reserveButton->isEnabled());
    QVERIFY(!b.schedButton->isEnabled());
    QVERIFY(!b.beginButton->isEnabled());
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
    TestHost host;
    ScopeBrowser b;
    b.hostName->setText(host.field());
    BoxCloser boxes;

    b.connectToServer->click();
    b.loginBox->setText("guest");
    b.connectToServer->click();
    b.loginBox->clear();
    b.passwordBox->setText("guest");
    b.connectToServer->click();
    QCOMPARE(boxes.seen.size(), 3);
    for (const auto& box : boxes.seen) {
        QCOMPARE(box.title, QStringLiteral("Info Entry Problem"));
        QCOMPARE(box.icon, QMessageBox::Warning);
    }
    QCOMPARE(boxes.seen[0].text, "Please provide a login name and password!" + signUp);
    QCOMPARE(boxes.seen[1].text, "Please provide a password!" + signUp);
    QCOMPARE(boxes.seen[2].text, "Please provide a login name" + signUp);
    QVERIFY(host->log().isEmpty());

    // Once a list has arrived, the same check leaves out the sign-up lines.
    QVERIFY(connectAndSweep(b, host));
    b.loginBox->clear();
    QVERIFY(!b.checkInfo());
    QCOMPARE(boxes.seen.last().text, QStringLiteral("Please provide a login name"));
}

void TestScopeBrowser::loginRequestAndList()
{
    TestHost host;
    Auth::setRandomSource([] { return 0x1234u; });
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host, "alice", "secret"));
    QVERIFY(boxes.seen.isEmpty());

    const auto checks = host->requests("iserv:checkauth");
    QCOMPARE(checks.size(), 1);
    QCOMPARE(checks[0].rawQuery, QByteArray("f=checkauth&l=alice&auth=2434&rndsd=1234"));
    QCOMPARE(host->requests("iserv:i").size(), 1);
    QCOMPARE(host->requests("iserv:i")[0].rawQuery, QByteArray("f=i"));

    // The sweep asks for each microscope in list order, login before microscope.
    const auto sweep = host->requests("iserv:cwt");
    QCOMPARE(sweep.size(), 3);
    QCOMPARE(sweep[0].rawQuery, QByteArray("f=cwt&l=alice&s=tall"));
    QCOMPARE(sweep[1].rawQuery, QByteArray("f=cwt&l=alice&s=handsome"));
    QCOMPARE(sweep[2].rawQuery, QByteArray("f=cwt&l=alice&s=dark"));
    QVERIFY(b.watch().isActive());

    QCOMPARE(b.connectionStatus->text(), QStringLiteral("Connection Successful"));
    QCOMPARE(b.connectToServer->text(), QStringLiteral("Refresh"));
    QCOMPARE(b.scopeListBox->count(), 3);
    QCOMPARE(b.scopeListBox->currentRow(), 0);
    QVERIFY(b.bannerBox->toPlainText().contains("Brolt demonstration host"));
    QVERIFY(b.descriptionBox->toPlainText().contains("upright slide scanner"));
    QCOMPARE(b.slideList->count(), 3);
    QCOMPARE(b.slideList->item(0)->text(), QStringLiteral("liver01"));
    QVERIFY(b.reserveButton->isEnabled());      // "$tall"
    QVERIFY(b.schedButton->isEnabled());
    QVERIFY(!b.beginButton->isEnabled());

    // Highlighting another row describes it; "#handsome" cannot be reserved now.
    b.scopeListBox->setCurrentRow(1);
    QVERIFY(!b.reserveButton->isEnabled());
    QCOMPARE(b.slideList->item(0)->text(), QStringLiteral("colon11"));

    // "Refresh" fetches the list again without a new log-in check.
    b.connectToServer->click();
    QTRY_COMPARE(host->requests("iserv:i").size(), 2);
    QTRY_VERIFY(!b.isListing());
    QCOMPARE(host->requests("iserv:checkauth").size(), 1);
    QCOMPARE(host->requests("iserv:cwt").size(), 3);
}

void TestScopeBrowser::refusedLogin()
{
    TestHost host;
    ScopeBrowser b;
    BoxCloser boxes;
    // A fixed random part: with some values a wrong key rotates into the right check string.
    Auth::setRandomSource([] { return 0x1234u; });
    fillLogin(b, host, "alice", "wrong password");
    b.connectToServer->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Authentication Failed"));
    QCOMPARE(boxes.seen[0].text, "The server rejected your username and password." + signUp);
    QTest::qWait(100);
    QCOMPARE(host->count("iserv:i"), 0);
    QCOMPARE(b.connectToServer->text(), QStringLiteral("Connect"));

    fillLogin(b, host, "mallory", "mallory");       // a refused login
    b.connectToServer->click();
    QVERIFY(boxes.waitFor(2));
    QCOMPARE(boxes.seen[1].title, QStringLiteral("Authentication Failed"));
}

void TestScopeBrowser::unreachableHost()
{
    quint16 port;
    {
        TestHost gone;
        port = gone->port();
    }
    ScopeBrowser b;
    BoxCloser boxes;
    b.hostName->setText(QStringLiteral("127.0.0.1:%1").arg(port));
    b.loginBox->setText("guest");
    b.passwordBox->setText("guest");
    b.connectToServer->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Connection Failure"));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("Error connecting to the Kelvry server.\n"
                                                "Please contact the server administrator. (file scpbrwsr)"));
    QVERIFY(b.isFirstConnect());

    // A host text that is no host name fails the same way, and nothing is sent anywhere.
    b.hostName->setText("127.0.0.1:1/evil?x=");
    b.connectToServer->click();
    QVERIFY(boxes.waitFor(2));
    QCOMPARE(boxes.seen[1].title, QStringLiteral("Connection Failure"));
}

void TestScopeBrowser::listFailureSelectsHost()
{
    TestHost host;
    host->scriptReply("iserv:i", 404, "");
    ScopeBrowser b;
    BoxCloser boxes;
    fillLogin(b, host, "guest", "guest");
    b.connectToServer->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Connection Failed"));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("No Kelvry server could be found at the given hostname"));
    QCOMPARE(b.connectionStatus->text(), QStringLiteral("Connection Failed."));
    QCOMPARE(b.hostName->selectedText(), host.field());
    QVERIFY(b.isFirstConnect());
    QVERIFY(b.isListing());

    // The next "Connect" runs the log-in check again.
    host->clearScripts();
    b.connectToServer->click();
    QTRY_COMPARE(host->count("iserv:checkauth"), 2);
    QTRY_VERIFY(!b.isFirstConnect());
}

void TestScopeBrowser::documentedListAndDescribe()
{
    TestHost host;
    host->scriptReply("iserv:i", 200,
                      "Welcome\n$Scope A\n60\nFirst scope.\n^\nslide1\nslide2\n^\n#Scope B\n30\nSecond.\n^\nslideX\n^\n");
    host->scriptReply("iserv:cwt", 200, "*");
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QCOMPARE(b.bannerBox->toPlainText(), QStringLiteral("Welcome"));
    QCOMPARE(b.scopeListBox->count(), 2);
    QCOMPARE(b.scopeListBox->currentRow(), 0);
    QCOMPARE(b.records()[0].maxMinutes, 60);
    QCOMPARE(b.slideList->count(), 2);
    QVERIFY(b.reserveButton->isEnabled());
    QCOMPARE(host->requests("iserv:cwt")[1].value("s"), QStringLiteral("Scope B"));

    b.scopeListBox->setCurrentRow(1);
    QCOMPARE(b.descriptionBox->toPlainText().trimmed(), QStringLiteral("Second."));
    QCOMPARE(b.slideList->count(), 1);
    QVERIFY(!b.reserveButton->isEnabled());
    // Rows outside the list describe nothing.
    b.describeScope(2);
    b.describeScope(-1);
    QCOMPARE(b.slideList->item(0)->text(), QStringLiteral("slideX"));
    QVERIFY(boxes.seen.isEmpty());
}

void TestScopeBrowser::refreshKeepsRow()
{
    TestHost host;
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    b.scopeListBox->setCurrentRow(2);
    b.connectToServer->click();
    QTRY_COMPARE(host->count("iserv:i"), 2);
    QTRY_VERIFY(!b.isListing());
    QCOMPARE(b.scopeListBox->currentRow(), 2);
    QCOMPARE(b.slideList->item(0)->text(), QStringLiteral("heart21"));
}

void TestScopeBrowser::refreshShorterList()
{
    TestHost host;
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    b.scopeListBox->setCurrentRow(2);
    host->world().scopes.removeLast();
    b.connectToServer->click();
    QTRY_COMPARE(host->count("iserv:i"), 2);
    QTRY_VERIFY(!b.isListing());
    QCOMPARE(b.scopeListBox->count(), 2);
    QCOMPARE(b.scopeListBox->currentRow(), -1);
    QVERIFY(b.schedButton->isEnabled());
    QCOMPARE(b.slideList->count(), 0);
}

void TestScopeBrowser::busyConnectSendsOnce()
{
    TestHost host;
    host->setDelay("iserv:checkauth", 300);
    ScopeBrowser b;
    BoxCloser boxes;
    fillLogin(b, host, "guest", "guest");
    b.connectToServer->click();
    b.connectToServer->click();
    QTRY_VERIFY_WITH_TIMEOUT(!b.isFirstConnect(), 5000);
    QCOMPARE(host->count("iserv:checkauth"), 1);
    QCOMPARE(host->count("iserv:i"), 1);
}

void TestScopeBrowser::returnOnRowDescribesOnly()
{
    TestHost host;
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    b.show();
    QVERIFY(QTest::qWaitForWindowExposed(&b));
    b.scopeListBox->setFocus();
    b.scopeListBox->setCurrentRow(2);
    QTest::keyClick(b.scopeListBox, Qt::Key_Return);
    QTest::qWait(100);
    QCOMPARE(b.slideList->item(0)->text(), QStringLiteral("heart21"));
    QCOMPARE(host->count("iserv:i"), 1);            // the default button was not pressed
}

void TestScopeBrowser::hostMarkupLoadsNothing()
{
    // Markup from the host is shown as rich text, but names no file the program would read.
    QTemporaryDir dir;
    const QString png = dir.filePath("local.png");
    QImage(8, 8, QImage::Format_RGB32).save(png);
    const QByteArray img = "<img src=\"" + png.toLatin1() + "\">";
    TestHost host;
    host->world().banner = "<p>Banner " + QString::fromLatin1(img) + "</p>\n";
    host->world().scopes[0].description = "<b>tall</b>" + QString::fromLatin1(img);
    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host));
    QVERIFY(b.bannerBox->toPlainText().contains("Banner"));
    QVERIFY(b.descriptionBox->toHtml().contains("<b>") || b.descriptionBox->toHtml().contains("font-weight"));
    const QUrl url = QUrl::fromLocalFile(png);
    for (QTextDocument* doc : {b.bannerBox->document(), b.descriptionBox->document()})
        for (const QUrl& u : {QUrl(png), url}) {
            const QVariant r = doc->resource(QTextDocument::ImageResource, u);
            QVERIFY(r.isNull() || (r.typeId() == QMetaType::QByteArray && r.toByteArray().isEmpty()));
        }

    // A microscope name with markup is shown as it is in the boxes that name it.
    host->world().scopes[0].name = "<b>x</b>";
    b.connectToServer->click();
    QTRY_VERIFY(!b.isListing());
    b.scopeListBox->setCurrentRow(0);
    b.schedButton->click();
    QVERIFY(boxes.waitFor(1));
    QVERIFY(boxes.seen[0].text.contains("\"<b>x</b>\""));
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
    TestHost host;
    host->scriptReply("iserv:i", 200, body);
    host->scriptReply("iserv:cwt", 200, "*");
    ScopeBrowser b;
    BoxCloser boxes;
    fillLogin(b, host, "guest", "guest");
    b.connectToServer->click();
    QTRY_VERIFY_WITH_TIMEOUT(!b.isFirstConnect(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(!b.sweepRunning(), 10000);
    QCOMPARE(b.records().size(), b.scopeListBox->count());
    QCOMPARE(b.connectionStatus->text(), QStringLiteral("Connection Successful"));
    // The dialog still works: a good list afterwards is shown as usual.
    host->clearScripts();
    b.connectToServer->click();
    QTRY_COMPARE(b.scopeListBox->count(), 3);
    QTRY_VERIFY(!b.isListing());
    QVERIFY(b.bannerBox->toPlainText().contains("Brolt demonstration host"));
}

QTEST_MAIN(TestScopeBrowser)
#include "tst_scopebrowser.moc"
