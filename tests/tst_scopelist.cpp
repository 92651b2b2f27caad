// Microscope list parse: the documented form, and malformed replies read only inside their bytes.
#include "ScopeList.h"

#include <QRandomGenerator>
#include <QTest>
#include <memory>
#include <vector>

namespace {
// Parses from a buffer of exactly the reply's size, so any read past it trips the sanitizer.
ScopeList parse(const QByteArray& reply)
{
    std::vector<char> exact(reply.begin(), reply.end());
    return parseScopeList(exact.data(), int(exact.size()));
}

const QByteArray example = "Welcome\n$Scope A\n60\nFirst scope.\n^\nslide1\nslide2\n^\n"
                           "#Scope B\n30\nSecond.\n^\nslideX\n^\n";
} // namespace

class TestScopeList : public QObject
{
    Q_OBJECT
private slots:
    void documentedExample();
    void recordRules();
    void bannerRules();
    void truncatedReplies();
    void minutesReadAsDecimal();
    void longNamesKeptWhole();
    void randomBytesStayInside();
};

void TestScopeList::documentedExample()
{
    const ScopeList l = parse(example);
    QCOMPARE(l.banner, QStringLiteral("Welcome"));
    QCOMPARE(l.records.size(), 2);
    const ScopeRecord& a = l.records[0];
    QCOMPARE(a.name, QStringLiteral("Scope A"));
    QVERIFY(a.reservable);
    QCOMPARE(a.maxMinutes, 60);
    QCOMPARE(a.maxMinutesText, QStringLiteral("60"));
    QCOMPARE(a.description, QStringLiteral("First scope.\n"));
    QCOMPARE(a.slides, QStringList({"slide1", "slide2"}));
    const ScopeRecord& b = l.records[1];
    QCOMPARE(b.name, QStringLiteral("Scope B"));
    QVERIFY(!b.reservable);
    QCOMPARE(b.maxMinutes, 30);
    QCOMPARE(b.slides, QStringList({"slideX"}));
}

void TestScopeList::recordRules()
{
    // Slides: only the first word of a line; blank lines add nothing and repeat nothing; a blank
    // line just before the terminator adds no "^" slide.
    const ScopeList l = parse("$S\n5\nd\n^\nfirst word here\n\n  \nsecond\t2\n\n^\n");
    QCOMPARE(l.records.size(), 1);
    QCOMPARE(l.records[0].slides, QStringList({"first", "second"}));

    // A description may end in "^" on its last line.
    const ScopeList c = parse("B\n$S\n5\nline one\nline two^\n\nslideA\n^\n");
    QCOMPARE(c.records.size(), 1);
    QCOMPARE(c.records[0].description, QStringLiteral("line one\nline two"));
    QCOMPARE(c.records[0].slides, QStringList({"slideA"}));

    // A record without slides keeps the next one.
    const ScopeList n = parse("$A\n10\nno slides^\n^\n#B\n20\nd\n^\nb1\n^\n");
    QCOMPARE(n.records.size(), 2);
    QVERIFY(n.records[0].name == QLatin1String("A") && n.records[0].slides.isEmpty());
    QCOMPARE(n.records[1].name, QStringLiteral("B"));
    QCOMPARE(n.records[1].slides, QStringList({"b1"}));

    // A slide list running into the next record's marker ends there.
    const ScopeList m = parse("$A\n10\nd\n^\na1\n#B\n20\nd\n^\nb1\n^\n");
    QCOMPARE(m.records.size(), 2);
    QCOMPARE(m.records[0].slides, QStringList({"a1"}));
    QCOMPARE(m.records[1].slides, QStringList({"b1"}));

    // Markers inside slide lines start no record: they belong to their slide.
    const ScopeList k = parse("$A\n10\nd\n^\ns1$x\ns2#y\n^\n");
    QCOMPARE(k.records.size(), 1);
    QCOMPARE(k.records[0].slides, QStringList({"s1$x", "s2#y"}));
}

void TestScopeList::bannerRules()
{
    QCOMPARE(parse("no markers at all\n").banner, QStringLiteral("no markers at all"));
    QVERIFY(parse("no markers at all\n").records.isEmpty());
    QCOMPARE(parse("x").banner, QString());
    QCOMPARE(parse("").banner, QString());
    QVERIFY(parse("").records.isEmpty());
    QCOMPARE(parse("$S\n5\nd\n^\ns\n^\n").banner, QString());
    QCOMPARE(parse("two\nlines\n#S\n5\nd\n^\ns\n^\n").banner, QStringLiteral("two\nlines"));
}

void TestScopeList::truncatedReplies()
{
    // Every prefix of the example parses inside its bytes; records cut before their
    // description's "^" are dropped, those cut in their slides are kept with what arrived.
    for (int n = 0; n <= example.size(); ++n) {
        const ScopeList l = parse(example.left(n));
        const int caretA = example.indexOf('^');
        const int caretB = example.indexOf('^', example.indexOf("#Scope B"));
        const int expected = n <= caretA ? 0 : (n <= caretB ? 1 : 2);
        QCOMPARE(l.records.size(), expected);
        for (const ScopeRecord& r : l.records)
            for (const QString& s : r.slides)
                QVERIFY2(QStringList({"slide1", "slide2", "slideX", "s", "sl", "sli", "slid", "slide"})
                             .contains(s),
                         qPrintable(s));
    }
    const ScopeList cut = parse("$A\n10\nd\n^\nslide1\nsli");
    QCOMPARE(cut.records.size(), 1);
    QCOMPARE(cut.records[0].slides, QStringList({"slide1", "sli"}));
}

void TestScopeList::minutesReadAsDecimal()
{
    QCOMPARE(parse("$A\n090\nd\n^\ns\n^\n").records[0].maxMinutes, 90);
    QCOMPARE(parse("$A\n0x10\nd\n^\ns\n^\n").records[0].maxMinutes, 0);
    QCOMPARE(parse("$A\nlots\nd\n^\ns\n^\n").records[0].maxMinutes, 0);
    QCOMPARE(parse("$A\nlots\nd\n^\ns\n^\n").records[0].maxMinutesText, QStringLiteral("lots"));
    QCOMPARE(parse("$A\n 45 min\nd\n^\ns\n^\n").records[0].maxMinutes, 45);
}

void TestScopeList::longNamesKeptWhole()
{
    const QByteArray name(300, 'n');
    const QByteArray slide(200, 's');
    const ScopeList l = parse("$" + name + "\n10\nd\n^\n" + slide + "\n^\n");
    QCOMPARE(l.records.size(), 1);
    QCOMPARE(l.records[0].name.size(), 300);
    QCOMPARE(l.records[0].slides.value(0).size(), 200);
}

void TestScopeList::randomBytesStayInside()
{
    // Bytes drawn mostly from the format's own characters, so records half-form often.
    QRandomGenerator rng(7);
    const char alphabet[] = "$#^\n\n \tab1Z\r\0\x80";
    for (int i = 0; i < 3000; ++i) {
        QByteArray b;
        const int n = int(rng.bounded(200));
        for (int k = 0; k < n; ++k)
            b += alphabet[rng.bounded(int(sizeof alphabet - 1))];
        const ScopeList l = parse(b);
        QVERIFY(l.banner.size() <= b.size());
        // No byte is read into two records, nor twice into one.
        qsizetype wire = 0;
        for (const ScopeRecord& r : l.records) {
            wire += r.wireName.size() + r.maxMinutesText.size() + r.description.size();
            for (const QByteArray& s : r.wireSlides)
                wire += s.size();
        }
        QVERIFY2(wire <= b.size(), b.toHex().constData());
    }
}

QTEST_APPLESS_MAIN(TestScopeList)
#include "tst_scopelist.moc"
