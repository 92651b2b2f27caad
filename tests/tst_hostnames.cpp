// Names from the host go back to it as the bytes they came as; what the user typed goes out as
// UTF-8, the same in every window.
#include "sched_support.h"

#include "HighResPreview.h"
#include "NeighborVideo.h"
#include "Session.h"
#include "VideoWindow.h"
#include "TestImages.h"

#include <QTest>

using namespace sched;

class TestHostNames : public QObject
{
    Q_OBJECT
private slots:
    void cleanup() { deleteDialogs(); }
    void namesGoBackAsSent_data();
    void namesGoBackAsSent();
};

void TestHostNames::namesGoBackAsSent_data()
{
    QTest::addColumn<QByteArray>("scope");
    QTest::addColumn<QByteArray>("slide");
    QTest::addColumn<QString>("scopeShown");
    QTest::addColumn<QString>("slideShown");
    QTest::addColumn<QByteArray>("scopeOnWire");
    QTest::addColumn<QByteArray>("slideOnWire");
    QTest::newRow("UTF-8") << QByteArray("Mic\xc3\xa9 1") << QByteArray("Sl\xc3\xa9""de")
                           << QString::fromUtf16(u"Mic\u00e9 1") << QString::fromUtf16(u"Sl\u00e9de")
                           << QByteArray("Mic%C3%A9%201") << QByteArray("Sl%C3%A9de");
    QTest::newRow("Latin-1") << QByteArray("Mic\xe9") << QByteArray("Sl\xe9""de")
                             << QString::fromUtf16(u"Mic\u00e9") << QString::fromUtf16(u"Sl\u00e9de")
                             << QByteArray("Mic%E9") << QByteArray("Sl%E9de");
    QTest::newRow("NUL inside") << QByteArray("A\0B", 3) << QByteArray("s\0x", 3)
                                << QString::fromUtf16(u"A\u0000B", 3) << QString::fromUtf16(u"s\u0000x", 3)
                                << QByteArray("A%00B") << QByteArray("s%00x");
}

void TestHostNames::namesGoBackAsSent()
{
    QFETCH(QByteArray, scope);
    QFETCH(QByteArray, slide);
    QFETCH(QString, scopeShown);
    QFETCH(QString, slideShown);
    QFETCH(QByteArray, scopeOnWire);
    QFETCH(QByteArray, slideOnWire);

    TestHost host;
    const QString login = QString::fromUtf16(u"\u0141ukasz");           // beyond Latin-1
    const QByteArray loginOnWire = "l=%C5%81ukasz";
    host->world().users.append({login, QStringLiteral("pw"), false});
    host->scriptReply("iserv:i", 200, "Hi\n$" + scope + "\n60\nd\n^\n" + slide + "\n^\n");
    host->scriptReply("iserv:cwt", 200, "*");

    ScopeBrowser b;
    BoxCloser boxes;
    QVERIFY(connectAndSweep(b, host, login, QStringLiteral("pw")));
    QCOMPARE(b.scopeListBox->item(0)->text(), scopeShown);
    QCOMPARE(b.slideList->item(0)->text(), slideShown);
    QVERIFY(host.queries("iserv:checkauth").value(0).startsWith("f=checkauth&" + loginOnWire + "&auth="));
    // The watch asks about the very microscope of the list.
    QCOMPARE(host.queries("iserv:cwt"), QList<QByteArray>{"f=cwt&" + loginOnWire + "&s=" + scopeOnWire});

    // The scheduling dialog: the same microscope and the same login as the log-in dialog's.
    ReserveTimeWin* d = openScheduling(&b, 0);
    QVERIFY(d);
    QCOMPARE(host.queries("iserv:cck"), QList<QByteArray>{"f=cck&s=" + scopeOnWire + "&" + loginOnWire});
    QTRY_COMPARE(d->scopeLabel->text(), "Schedule for Scope: " + scopeShown);
    QCOMPARE(host.queries("iserv:getschd"), QList<QByteArray>{"f=getschd&s=" + scopeOnWire});
    d->reserveBtn->click();
    QTRY_COMPARE(host.queries("iserv:sticket"), QList<QByteArray>{"f=sticket&s=" + scopeOnWire + "&" + loginOnWire});

    // The slide's picture, fiducial file and point list name the slide and the microscope of the list.
    host->script("/whole_slides/", [](const HostRequest&) {
        return HostReply::jpeg(TestImages::jpeg(TestImages::solid(64, 48, qRgb(1, 2, 3))));
    });
    const ScopeRecord& rec = b.records().at(0);
    HighResPreview v;
    v.setServer(host.field());
    v.slideListMode = true;
    v.fiducialTag = rec.wireName;
    v.slideChange(rec.wireSlides.at(0));
    QTRY_COMPARE(host->count("icount:sl"), 1);
    QCOMPARE(host->requests("/whole_slides/").value(0).rawPath, "/whole_slides/" + slideOnWire);
    QCOMPARE(host->requests("/fiducials/").value(0).rawPath, "/fiducials/" + slideOnWire + "." + scopeOnWire + ".new");
    QCOMPARE(host.queries("icount:sl"), QList<QByteArray>{"f=sl&s=" + slideOnWire});

    // The control window: its query prefix and its first slide carry the same bytes.
    SessionInfo info;
    info.scope = rec;
    info.host = host.field();
    info.login = login;
    info.password = QStringLiteral("pw");
    info.baseQuery = SessionInfo::queryPrefix(login, rec.wireName);
    host->clearLog();
    Session* s = Session::openSession(info);
    QTRY_VERIFY(!host->requests("/small_slides/").isEmpty());
    QCOMPARE(host.queries("iserv:d"), QList<QByteArray>{loginOnWire + "&s=" + scopeOnWire + "&f=d"});
    QCOMPARE(host->requests("/small_slides/").value(0).rawPath, "/small_slides/" + slideOnWire);
    QCOMPARE(s->curSlide, slideShown);
    QTRY_VERIFY(s->sysInfoConn.isBusy() == false && s->moveConn.isBusy() == false);
    delete s->videoWindow.data();
    delete s->neighborVideo.data();
    delete s;
}

QTEST_MAIN(TestHostNames)
#include "tst_hostnames.moc"
