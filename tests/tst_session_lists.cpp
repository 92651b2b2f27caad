// The job and slide lists of the "Stack Info" page and the slides their entries load.
#include "JobReplies.h"
#include "SessionFixture.h"

#include <QListWidget>

class TestSessionLists : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void listReplies_data();
    void listReplies();
    void jobPicks();
    void jobDotsOnTheirSlide();
    void pressWhileLoading();
};

namespace {

QStringList entries(const QListWidget* box)
{
    QStringList out;
    for (int i = 0; i < box->count(); ++i)
        out << box->item(i)->text();
    return out;
}

int rowOf(const QListWidget* box, const QString& text)
{
    return entries(box).indexOf(text);
}

void setArea(Session* s)
{
    s->xCoord->setText("10");
    s->yCoord->setText("10");
    s->PushButton6->click();
    s->xCoord->setText("11");
    s->yCoord->setText("12");
    s->PushButton7->click();
}

// Pixels of the slide view's picture in the pure red and green of the point-list dots.
QPair<int, int> dotPixels(const HighResPreview* v)
{
    const QImage img = v->pixmap.toImage().convertToFormat(QImage::Format_RGB32);
    int red = 0, green = 0;
    for (int y = 0; y < img.height(); ++y) {
        const auto* line = reinterpret_cast<const QRgb*>(img.constScanLine(y));
        for (int x = 0; x < img.width(); ++x) {
            red += line[x] == qRgb(255, 0, 0);
            green += line[x] == qRgb(0, 255, 0);
        }
    }
    return {red, green};
}

} // namespace

void TestSessionLists::initTestCase()
{
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
}

void TestSessionLists::listReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<QStringList>("shown");
    QTest::newRow("up to the empty line, sorted") << 200 << QByteArray("b\na\n\nc\n") << QStringList{"a", "b"};
    QTest::newRow("last line without a break") << 200 << QByteArray("zeta\nalpha") << QStringList{"alpha", "zeta"};
    QTest::newRow("a CR stays, a name twice shows twice")
        << 200 << QByteArray("n2\r\nn1\nn2\r\n") << QStringList{"n1", "n2\r", "n2\r"};
    // A name goes back in requests as the bytes received: one that UTF-8 cannot carry is left out.
    QTest::newRow("UTF-8 and Latin-1 names") << 200 << QByteArray("caf\xc3\xa9\nbad\xe9\nok\n")
                                             << QStringList{QStringLiteral("bad\u00e9"), QStringLiteral("caf\u00e9"), "ok"};
    QTest::newRow("empty") << 200 << QByteArray() << QStringList{};
    QTest::newRow("error page") << 500 << QByteArray("<html>\n<body>Server error</body>\n</html>\n") << QStringList{};
}

void TestSessionLists::listReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(QStringList, shown);
    SessionFixture f;
    f.host->scriptReply(QStringLiteral("icount:ja"), status, body);
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    s->displayLibButton->click();
    QCOMPARE(s->jobLabel->text(), QStringLiteral("Celloidin ID"));
    QCOMPARE(s->joblistBox->count(), 0);
    QVERIFY(QTest::qWaitFor([&] { return !s->jobListConn.isBusy(); }, 5000));
    QCOMPARE(f.queries(QStringLiteral("icount:ja")), QList<QByteArray>{"f=ja&c=2"});
    QCOMPARE(entries(s->joblistBox), shown);
    QCOMPARE(s->sysInfoBox->toPlainText().contains(QStringLiteral("Error fetching the list")), status != 200);
}

// Picking a job loads the job's slide; a reply that names none keeps the slide shown; of two
// picks made while one reply is on its way, the later one wins.
void TestSessionLists::jobPicks()
{
    SessionFixture f;
    QMap<QString, QByteArray> pointLists{{"J1001", "S12 1000.0 2000.0\nS12 1100.0 2000.0\n"},
                                         {"J1002", "S13\t5 6\n"}};
    int failing = 200;          // the status of J1002's reply
    int delayMs = 100;
    f.host->script(QStringLiteral("icount:jl"), [&](const HostRequest& r) {
        HostReply reply = HostReply::text(pointLists.value(r.value("j")));
        reply.status = r.value("j") == QLatin1String("J1002") ? failing : 200;
        reply.delayMs = delayMs;
        return reply;
    });
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    s->displayJobButton->click();
    QVERIFY(QTest::qWaitFor([&] { return !s->jobListConn.isBusy(); }, 5000));
    QCOMPARE(f.queries(QStringLiteral("icount:ju")), QList<QByteArray>{"f=ju&l=guest"});
    QCOMPARE(entries(s->joblistBox), (QStringList{"J1001", "J1002"}));

    setArea(s);
    s->joblistBox->setCurrentRow(rowOf(s->joblistBox, "J1001"));
    QVERIFY(QTest::qWaitFor([&] { return s->curSlide == QLatin1String("S12"); }, 5000));
    QCOMPARE(s->highRes->jobId, QStringLiteral("J1001"));
    QCOMPARE(f.queries(QStringLiteral("icount:jl")).value(0), QByteArray("f=jl&j=J1001&c=1"));
    QCOMPARE(s->corner2.x, 0.0f);
    QVERIFY(QTest::qWaitFor([&] { return f.host->count(QStringLiteral("/small_slides/")) == 2; }, 5000));
    QCOMPARE(f.host->requests(QStringLiteral("/small_slides/")).last().path, QStringLiteral("/small_slides/S12"));
    QCOMPARE(s->highRes->slideName, QStringLiteral("S12"));

    // J1001 is picked again while J1002's reply is still on its way.
    pointLists["J1001"] = "S14 1 2\n";
    f.host->clearLog();
    s->joblistBox->setCurrentRow(rowOf(s->joblistBox, "J1002"));
    s->joblistBox->setCurrentRow(rowOf(s->joblistBox, "J1001"));
    QVERIFY(QTest::qWaitFor([&] { return s->curSlide == QLatin1String("S14"); }, 5000));
    QTest::qWait(150);
    QCOMPARE(s->curSlide, QStringLiteral("S14"));
    QCOMPARE(s->highRes->jobId, QStringLiteral("J1001"));
    QCOMPARE(f.queries(QStringLiteral("icount:jl")), (QList<QByteArray>{"f=jl&j=J1002&c=1", "f=jl&j=J1001&c=1"}));

    struct Bad { int status; QByteArray body; };
    const QByteArray longSlide = QByteArray(MaxListEntry + 1, 'S') + " 1 2\n";
    for (const Bad& bad : {Bad{500, "S15 1 2\n"}, Bad{200, ""}, Bad{200, " S16 1 2\n"}, Bad{200, longSlide}}) {
        failing = bad.status;
        pointLists["J1002"] = bad.body;
        s->joblistBox->setCurrentRow(rowOf(s->joblistBox, "J1002"));
        QVERIFY(QTest::qWaitFor([&] { return !s->jobConn.isBusy(); }, 5000));
        QCOMPARE(s->curSlide, QStringLiteral("S14"));
        s->joblistBox->setCurrentRow(rowOf(s->joblistBox, "J1001"));
        QVERIFY(QTest::qWaitFor([&] { return !s->jobConn.isBusy(); }, 5000));
    }
    QCOMPARE(s->sysInfoBox->toPlainText().count(QStringLiteral("Error fetching the slide of the job")), 4);

    s->curSlideButton->click();
    QCOMPARE(s->curSlide, QStringLiteral("liver01"));
    QVERIFY(s->highRes->jobListMode);

    // A job's reply that arrives after the library list was shown and an entry picked there
    // loads nothing and reports nothing, whether it names a slide or failed.
    delayMs = 500;
    pointLists["J1002"] = "S13 5 6\n";
    for (int status : {200, 500}) {
        failing = status;
        s->displayJobButton->click();
        QVERIFY(QTest::qWaitFor([&] { return !s->jobListConn.isBusy(); }, 5000));
        s->joblistBox->setCurrentRow(rowOf(s->joblistBox, "J1002"));
        QVERIFY(s->jobConn.isBusy());
        s->displayLibButton->click();
        QVERIFY(QTest::qWaitFor([&] { return !s->jobListConn.isBusy(); }, 5000));
        s->joblistBox->setCurrentRow(status == 200 ? 0 : 1);
        const QString picked = s->joblistBox->currentItem()->text();
        QCOMPARE(s->curSlide, picked);
        QVERIFY(QTest::qWaitFor([&] { return !s->jobConn.isBusy(); }, 5000));
        QTest::qWait(50);
        QCOMPARE(s->curSlide, picked);
        QCOMPARE(s->highRes->slideName, picked);
        QCOMPARE(s->sysInfoBox->toPlainText().count(QStringLiteral("Error fetching the slide of the job")), 4);
    }
}

// A job's dots are drawn on the job's own slide only: not on the slide of a job whose reply
// failed after a picture came in, nor on the microscope's slide shown again.
void TestSessionLists::jobDotsOnTheirSlide()
{
    SessionFixture f;
    World& w = f.host->world();
    // The session's request for J1002's slide is held, then fails; every other job list (the
    // view's own for its dots) is the world's.
    bool holdJob = false, released = false;
    f.host->script(QStringLiteral("icount:jl"), [&](const HostRequest& r) {
        HostReply reply;
        if (std::exchange(holdJob, false)) {
            reply.status = 500;
            reply.ready = [&released](HostReply&) { return released; };
            return reply;
        }
        if (const SimJob* job = w.job(r.value("j")))
            for (const QPointF& p : job->stacks)
                reply.body += job->slide.toUtf8() + ' ' + QByteArray::number(p.x(), 'f', 1) + ' '
                              + QByteArray::number(p.y(), 'f', 1) + '\n';
        return reply;
    });
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    HighResPreview* v = s->highRes;
    s->displayJobButton->click();
    QVERIFY(QTest::qWaitFor([&] { return !s->jobListConn.isBusy(); }, 5000));
    QVERIFY(rowOf(s->joblistBox, "J1002") >= 0);

    s->joblistBox->setCurrentRow(rowOf(s->joblistBox, "J1001"));
    QVERIFY(QTest::qWaitFor([&] { return v->slideName == QLatin1String("kidney02"); }, 5000));
    QVERIFY(f.waitIdle());
    const QVector<QPoint> red = v->list1, green = v->list2;
    const QPair<int, int> drawn = dotPixels(v);
    QVERIFY(!red.isEmpty() && !green.isEmpty());
    QVERIFY(drawn.first > 0 && drawn.second > 0);

    // J1002 is picked; the picture of the slide shown arrives with its lists before J1002's
    // reply, which then fails: J1001's dots stay, and none of J1002's are drawn.
    holdJob = true;
    s->joblistBox->setCurrentRow(rowOf(s->joblistBox, "J1002"));
    QVERIFY(s->jobConn.isBusy());
    const int lists = f.host->count(QStringLiteral("icount:sbl"));
    s->refPreviewButton->click();
    QVERIFY(QTest::qWaitFor([&] { return f.host->count(QStringLiteral("icount:sbl")) == lists + 1; }, 5000));
    QVERIFY(QTest::qWaitFor([&] { return !v->counts1.isBusy() && !v->counts2.isBusy() && !v->pixmap.isNull(); },
                            5000));
    released = true;
    QVERIFY(QTest::qWaitFor([&] { return !s->jobConn.isBusy(); }, 5000));
    QVERIFY(f.waitIdle());
    QVERIFY(s->sysInfoBox->toPlainText().contains(QStringLiteral("Error fetching the slide of the job")));
    QCOMPARE(s->curSlide, QStringLiteral("kidney02"));
    QCOMPARE(v->list1, red);
    QCOMPARE(v->list2, green);
    QCOMPARE(dotPixels(v), drawn);

    // "Show Available Slide" keeps the job list, and shows the microscope's slide bare.
    s->curSlideButton->click();
    QVERIFY(f.waitIdle());
    QCOMPARE(v->slideName, QStringLiteral("liver01"));
    QVERIFY(v->jobListMode && !v->pixmap.isNull());
    QVERIFY(v->list1.isEmpty() && v->list2.isEmpty());
    QCOMPARE(dotPixels(v), (QPair<int, int>(0, 0)));
}

// A press while a list is being fetched changes nothing; a library entry loads its slide.
void TestSessionLists::pressWhileLoading()
{
    SessionFixture f;
    f.host->setDelay(QStringLiteral("icount:ja"), 200);
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    s->displayLibButton->click();
    s->displayJobButton->click();
    QCOMPARE(s->jobLabel->text(), QStringLiteral("Celloidin ID"));
    QVERIFY(s->highRes->slideListMode && !s->highRes->jobListMode);
    QVERIFY(QTest::qWaitFor([&] { return !s->jobListConn.isBusy(); }, 5000));
    QCOMPARE(f.host->count(QStringLiteral("icount:ju")), 0);
    QStringList ids;
    for (const LibrarySlide& l : f.host->world().library)
        ids << l.id;
    ids.sort();
    QCOMPARE(entries(s->joblistBox), ids);

    setArea(s);
    s->joblistBox->setCurrentRow(1);
    QCOMPARE(s->curSlide, ids[1]);
    QCOMPARE(s->corner2.x, 0.0f);
    QVERIFY(f.waitIdle());
    QCOMPARE(f.host->count(QStringLiteral("icount:jl")), 0);
    QCOMPARE(f.host->requests(QStringLiteral("icount:sl")).last().value("s"), ids[1]);
}

QTEST_MAIN(TestSessionLists)
#include "tst_session_lists.moc"
