// The acquisition rectangle, its point count and job creation.
#include "BoxCloser.h"
#include "RawPeer.h"
#include "SessionFixture.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStatusBar>
#include <QTemporaryDir>

class TestSessionJobs : public QObject
{
    Q_OBJECT
private slots:
    void initTestCase();
    void count_data();
    void count();
    void corners();
    void jobRequest();
    void filteredJob();
    void libraryFilteredJob();
    void filteredJobWithoutPicture();
    void jobReplies_data();
    void jobReplies();
    void filteredJobNotTaken_data();
    void filteredJobNotTaken();
};

namespace {

void setCorner(Session& s, QPushButton* button, const QString& x, const QString& y)
{
    s.xCoord->setText(x);
    s.yCoord->setText(y);
    button->click();
}

void setArea(Session& s, double x1, double y1, double x2, double y2)
{
    setCorner(s, s.PushButton6, QString::number(x1), QString::number(y1));
    setCorner(s, s.PushButton7, QString::number(x2), QString::number(y2));
}

// The "x,y;" items of a point string.
QList<QPointF> points(const QString& text)
{
    QList<QPointF> out;
    for (const QString& item : text.split(QLatin1Char(';'), Qt::SkipEmptyParts)) {
        const QStringList xy = item.split(QLatin1Char(','));
        out.append(QPointF(xy.value(0).toDouble(), xy.value(1).toDouble()));
    }
    return out;
}

} // namespace

void TestSessionJobs::initTestCase()
{
    qRegisterMetaType<CoordinateTriple>("CoordinateTriple&");
    qRegisterMetaType<QImage>("QImage&");
}

void TestSessionJobs::count_data()
{
    QTest::addColumn<double>("x1");     // and y1
    QTest::addColumn<double>("x2");
    QTest::addColumn<double>("y2");
    QTest::addColumn<int>("density");
    QTest::addColumn<int>("expected");
    QTest::newRow("one column, two rows") << 10.0 << 11.0 << 12.0 << 1 << 2;
    QTest::newRow("step 3333: four columns, seven rows") << 10.0 << 11.0 << 12.0 << 3 << 28;
    // As floats 368349.99 and 378349.99 units: from 368349, the points 368349 and 378349 lie
    // before the exact end.
    QTest::newRow("start truncated, end exact") << 36.835 << 37.835 << 37.835 << 1 << 4;
    QTest::newRow("more than INT_MAX points") << 10.0 << 200000.0 << 200000.0 << 10 << 0;
    QTest::newRow("beyond 32-bit stage units") << 10.0 << 300000.0 << 11.0 << 1 << 0;
}

void TestSessionJobs::count()
{
    QFETCH(double, x1);
    QFETCH(double, x2);
    QFETCH(double, y2);
    QFETCH(int, density);
    QFETCH(int, expected);
    BoxCloser boxes;
    Session s;
    setArea(s, x1, x1, x2, y2);
    s.densityBox->setValue(density);
    QCOMPARE(s.movieCount, expected);
    QCOMPARE(s.totalBox->text(), QString::number(expected));
    QCOMPARE(boxes.seen.size(), 0);
}

// A corner in the wrong order is cleared alone; the other stays, and so does the view's.
void TestSessionJobs::corners()
{
    BoxCloser boxes;
    Session s;
    setCorner(s, s.PushButton7, "12", "12");
    setCorner(s, s.PushButton6, "13", "10");
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Error: corner setting."));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("Bad top left corner compared with the bottom right corner."));
    QCOMPARE(s.corner1.x, 0.0f);
    QCOMPARE(s.corner2.x, 12.0f);
    QVERIFY(!s.highRes->corner1Set);
    QCOMPARE(s.PushButton6->text(), QStringLiteral("Set Top Left Corner"));

    setCorner(s, s.PushButton6, "10", "10");
    QCOMPARE(s.movieCount, 4);
    QCOMPARE(s.PushButton6->text(), QStringLiteral("Change Top Left Corner"));
    QCOMPARE(s.PushButton7->text(), QStringLiteral("Change Bottom Right Corner"));

    setCorner(s, s.PushButton7, "9", "15");
    QVERIFY(boxes.waitFor(2));
    QCOMPARE(boxes.seen[1].text, QStringLiteral("Bad bottom right corner compared with the top left corner."));
    QCOMPARE(s.corner2.x, 0.0f);
    QCOMPARE(s.corner1.x, 10.0f);
    QCOMPARE(s.corner1.y, 10.0f);

    // A typo changes nothing: the corner is not put at the slide's origin.
    setCorner(s, s.PushButton6, "1O", "10");
    QVERIFY(boxes.waitFor(3));
    QCOMPARE(boxes.seen[2].text, QStringLiteral("The X and Y fields must hold numbers."));
    QCOMPARE(s.corner1.x, 10.0f);

    s.resetAcquisitionButton->click();
    QCOMPARE(s.corner1.x, 0.0f);
    QCOMPARE(s.PushButton6->text(), QStringLiteral("Set Top Left Corner"));
    QCOMPARE(s.totalBox->text(), QStringLiteral("0"));
    QCOMPARE(boxes.seen.size(), 3);
}

void TestSessionJobs::jobRequest()
{
    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    s->filterCheck->setChecked(false);
    setArea(*s, 37, 24, 38, 26);       // on the tissue: the host keeps the job
    BoxCloser boxes;

    s->jobNameEdit->setText(QStringLiteral(" \t "));
    s->createJobButton->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].text, QStringLiteral("You must enter a name for your job."));
    QVERIFY(!s->createJobConn.isBusy());

    // Three slides on the microscope, two presses: one request, for the first slide.
    s->jobNameEdit->setText(QStringLiteral(" my job "));
    s->createJobButton->click();
    s->createJobButton->click();
    QVERIFY(boxes.waitFor(2));
    QCOMPARE(boxes.seen[1].title, QStringLiteral("Job waiting."));
    const auto sent = f.host->requests(QStringLiteral("iserv:cj"));
    QCOMPARE(sent.size(), 1);
    const QByteArray q = sent[0].rawQuery;
    QVERIFY2(q.startsWith("l=guest&s=tall&f=cj&auth="), q.constData());
    QVERIFY2(q.endsWith("&ld=1&tlx=370000.0000&tly=240000.0000&brx=380000.0000&bry=260000.0000&n=%20my%20job%20"
                        "&sli=liver01"),
             q.constData());
    QVERIFY(f.host->world().job(QStringLiteral(" my job ")));
    QCOMPARE(s->jobNameEdit->text(), QString());
    QCOMPARE(s->corner2.x, 0.0f);
    QCOMPARE(s->movieCount, 0);
}

// The client's tissue test and the host's agree on every point of a row across the slide.
void TestSessionJobs::filteredJob()
{
    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    QCOMPARE(s->filterState, 2);
    setArea(*s, 2, 20, 74, 21.5);
    s->jobNameEdit->setText(QStringLiteral("row"));
    BoxCloser boxes;
    s->createJobButton->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Job waiting."));

    const auto sent = f.host->requests(QStringLiteral("iserv:cjf"));
    QCOMPARE(sent.size(), 1);
    QVERIFY(sent[0].rawQuery.startsWith("l=guest&s=tall&f=cjf&auth="));
    const QString good = sent[0].value("sts1"), bad = sent[0].value("sts2");
    QCOMPARE(sent[0].value("stl1"), QString::number(good.size()));
    QCOMPARE(sent[0].value("stl2"), QString::number(bad.size()));
    QCOMPARE(sent[0].value("sli"), QStringLiteral("liver01"));
    const QList<QPointF> tissue = points(good), blank = points(bad);
    QCOMPARE(tissue.size() + blank.size(), 144);
    QVERIFY(!tissue.isEmpty() && !blank.isEmpty());
    World& w = f.host->world();
    for (const QPointF& p : tissue)
        QVERIFY2(w.pictureShowsTissue("tall", "liver01", p), qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
    for (const QPointF& p : blank)
        QVERIFY2(!w.pictureShowsTissue("tall", "liver01", p), qPrintable(QString("%1,%2").arg(p.x()).arg(p.y())));
    QCOMPARE(w.job(QStringLiteral("row"))->stacks.size(), tissue.size());
}

// Under "library" a filtered job only goes to the local files: neither a request on its way nor
// a missing slide name holds it up. A folder that cannot take them is named, with the reason.
void TestSessionJobs::libraryFilteredJob()
{
    SessionFixture f(QStringLiteral("tall"), QStringLiteral("library"), QStringLiteral("library"));
    bool answer = false;            // the job request's reply is held until then
    f.host->script(QStringLiteral("iserv:cj"), [&answer](const HostRequest&) {
        HostReply r = HostReply::text("+OK");
        r.ready = [&answer](HostReply&) { return answer; };
        return r;
    });
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    QTemporaryDir dir;
    QVERIFY(QDir(dir.path()).mkpath("jobs") && QDir(dir.path()).mkpath("bad_lib"));
    s->strainEdit->setText(QStringLiteral("Mus"));
    setArea(*s, 37, 24, 38, 26);
    BoxCloser boxes;

    s->filterCheck->setChecked(false);
    s->jobNameEdit->setText(QStringLiteral("sent"));
    s->createJobButton->click();
    QVERIFY(s->createJobConn.isBusy());

    // A job folder that is not there: the box names the file and the system's reason.
    s->filterCheck->setChecked(true);
    s->curSlide.clear();
    s->jobNameEdit->setText(QStringLiteral("local"));
    const QString missing = dir.path() + "/missing";
    s->highRes->jobFilesDir = missing;
    s->createJobButton->click();
    QVERIFY(boxes.waitFor(1));
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Error: Cannot create job."));
    QFile probe(missing + "/jobs/local");
    QVERIFY(!probe.open(QIODevice::WriteOnly));
    QCOMPARE(boxes.seen[0].text,
             "The job files could not be written.\n" + missing + "/jobs/local: " + probe.errorString());
    QVERIFY(!QFileInfo::exists(missing));

    s->highRes->jobFilesDir = dir.path();
    s->createJobButton->click();
    QVERIFY(s->createJobConn.isBusy());
    QVERIFY(boxes.waitFor(2));
    QCOMPARE(boxes.seen[1].title, QStringLiteral("Job waiting."));
    QVERIFY(QFile::exists(dir.path() + "/jobs/local"));
    QVERIFY(QFile::exists(dir.path() + "/bad_lib/local"));
    answer = true;
    QVERIFY(QTest::qWaitFor([&] { return !s->createJobConn.isBusy(); }, 5000));
    QCOMPARE(f.host->count(QStringLiteral("iserv:cj")), 1);
    QCOMPARE(f.host->count(QStringLiteral("iserv:cjf")), 0);
}

// A slide whose picture failed has no picture to test for tissue: every point of its job counts
// as tissue, and the previous slide's picture is never tested in its place.
void TestSessionJobs::filteredJobWithoutPicture()
{
    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    s->displayLibButton->click();
    QVERIFY(QTest::qWaitFor([&] { return !s->jobListConn.isBusy(); }, 5000));
    QVERIFY(s->joblistBox->count() > 1);
    const QString slide = s->joblistBox->item(1)->text();
    f.host->scriptReply(QStringLiteral("/whole_slides/") + slide, 500, "<html>error</html>");
    s->joblistBox->setCurrentRow(1);
    QCOMPARE(s->curSlide, slide);
    QVERIFY(f.waitIdle());

    // The row of filteredJob: on liver01's picture it holds tissue and blank points.
    setArea(*s, 2, 20, 74, 21.5);
    s->jobNameEdit->setText(QStringLiteral("row"));
    BoxCloser boxes;
    s->createJobButton->click();
    QVERIFY(QTest::qWaitFor([&] { return f.host->count(QStringLiteral("iserv:cjf")) == 1; }, 5000));
    const auto sent = f.host->requests(QStringLiteral("iserv:cjf"));
    QCOMPARE(sent[0].value("sli"), slide);
    QCOMPARE(points(sent[0].value("sts1")).size(), 144);
    QCOMPARE(sent[0].value("sts2"), QString());
}

void TestSessionJobs::jobReplies_data()
{
    QTest::addColumn<int>("status");
    QTest::addColumn<QByteArray>("body");
    QTest::addColumn<int>("icon");      // 0: no box
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("kept");     // name and rectangle stay
    QTest::newRow("-D") << 200 << QByteArray("-D") << int(QMessageBox::Warning)
                        << "The job name \" J %1 \" has existed in the Kelvry server.\n Please select another job "
                           "name to try again!"
                        << true;
    QTest::newRow("-E") << 200 << QByteArray("-E\n") << int(QMessageBox::Warning) << "Nonsense image stack(s)."
                        << false;
    QTest::newRow("<") << 200 << QByteArray("<") << int(QMessageBox::Warning) << "********Job too large********"
                       << false;
    QTest::newRow("+") << 200 << QByteArray("+OK") << int(QMessageBox::Information)
                       << "You may receive an email for your job information as soon as your job is complete."
                       << false;
    QTest::newRow("error page") << 500 << QByteArray("<!DOCTYPE html><html>Internal error</html>")
                                << int(QMessageBox::Warning)
                                << "The Kelvry server refused the job request (500 Internal Server Error).\n"
                                   "Please look for the job in \"Display User Job\" before you send it again."
                                << true;
    QTest::newRow("-X") << 200 << QByteArray("-X") << 0 << "" << true;
}

void TestSessionJobs::jobReplies()
{
    QFETCH(int, status);
    QFETCH(QByteArray, body);
    QFETCH(int, icon);
    QFETCH(QString, text);
    QFETCH(bool, kept);
    SessionFixture f;
    f.host->scriptReply(QStringLiteral("iserv:cj"), status, body);
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    s->filterCheck->setChecked(false);
    setArea(*s, 10, 10, 11, 12);
    s->jobNameEdit->setText(QStringLiteral(" J %1 "));
    BoxCloser boxes;
    s->createJobButton->click();
    QVERIFY(QTest::qWaitFor([&] { return !s->createJobConn.isBusy() && boxes.seen.size() >= (icon ? 1 : 0); }, 5000));
    QTest::qWait(30);
    QCOMPARE(f.host->count(QStringLiteral("iserv:cj")), 1);
    QCOMPARE(boxes.seen.size(), icon ? 1 : 0);
    if (icon) {
        QCOMPARE(int(boxes.seen[0].icon), icon);
        QCOMPARE(boxes.seen[0].title, icon == QMessageBox::Warning ? QStringLiteral("Error: Cannot create job.")
                                                                   : QStringLiteral("Job waiting."));
        QVERIFY2(boxes.seen[0].text.startsWith(text), qPrintable(boxes.seen[0].text));
    }
    QCOMPARE(s->jobNameEdit->text(), kept ? QStringLiteral(" J %1 ") : QString());
    QCOMPARE(s->corner2.y, kept ? 12.0f : 0.0f);
    QCOMPARE(s->movieCount, kept ? 2 : 0);
}

void TestSessionJobs::filteredJobNotTaken_data()
{
    QTest::addColumn<QByteArray>("answer");     // empty: the connection is dropped unanswered
    QTest::addColumn<QString>("text");
    const QByteArray page = "<!DOCTYPE HTML PUBLIC \"-//IETF//DTD HTML 2.0//EN\">\n<html><body>page</body></html>\n";
    const auto answer = [&page](const QByteArray& statusAndHeaders) {
        return "HTTP/1.1 " + statusAndHeaders + "\r\nContent-Type: text/html; charset=iso-8859-1\r\nContent-Length: "
            + QByteArray::number(page.size()) + "\r\nConnection: close\r\n\r\n" + page;
    };
    const QString again = QStringLiteral("\nPlease look for the job in \"Display User Job\" before you send it again.");
    QTest::newRow("414") << answer("414 Request-URI Too Long")
                         << "The Kelvry server refused the job request (414 Request-URI Too Long)." + again;
    QTest::newRow("503") << answer("503 Service Unavailable")
                         << "The Kelvry server refused the job request (503 Service Unavailable)." + again;
    // Its page starts with '<', as a reply "job too large" does.
    QTest::newRow("302 elsewhere") << answer("302 Found\r\nLocation: http://127.0.0.1:1/cgi-bin/iserv")
                                   << "The Kelvry server refused the job request (302 Found)." + again;
    QTest::newRow("no answer") << QByteArray()
                               << "The Kelvry server could not be reached, or its answer was lost." + again;
}

// A filtered job that the host's web server refuses says so, with the status; the name and the
// rectangle stay.
void TestSessionJobs::filteredJobNotTaken()
{
    QFETCH(QByteArray, answer);
    QFETCH(QString, text);
    SessionFixture f;
    QVERIFY(f.openAndSettle());
    Session* s = f.session;
    RawPeer web;
    web.response = answer;
    web.dropAtOnce = answer.isEmpty();
    s->si.host = web.hostField();
    setArea(*s, 10, 20, 26, 24);      // 1024 points, a request line of about 25 KB
    s->densityBox->setValue(4);
    s->jobNameEdit->setText(QStringLiteral("dense"));
    BoxCloser boxes;
    s->createJobButton->click();
    QVERIFY(boxes.waitFor(1));
    QVERIFY(!web.requests.isEmpty());
    QVERIFY(web.requests[0].startsWith("GET /cgi-bin/iserv?l=guest&s=tall&f=cjf&auth="));
    QVERIFY(web.requests[0].indexOf("\r\n") > 8190);
    QCOMPARE(boxes.seen[0].title, QStringLiteral("Error: Cannot create job."));
    QCOMPARE(boxes.seen[0].text, text);
    QCOMPARE(s->jobNameEdit->text(), QStringLiteral("dense"));
    QCOMPARE(s->movieCount, 1024);
}

QTEST_MAIN(TestSessionJobs)
#include "tst_session_jobs.moc"
