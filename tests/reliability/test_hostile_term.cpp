// Whatever lands in the term box, Start Scan ends in one of two defined ways:
// the scan starts with the interval the text reads as, or the term is refused
// with its box. The text is read the lenient way: blanks, tabs and line feeds
// are ignored, reading stops at the first character that cannot continue the
// number, and a text that does not begin with one reads as 0.
#include "panel.h"

using namespace queltor;

namespace {

constexpr int kRefused = -1;
constexpr int kBoxLimit = 32767; // a line edit keeps no more than this

QString repeated(const QString &piece, int times) { return piece.repeated(times); }

} // namespace

class TestHostileTerm : public QObject
{
    Q_OBJECT
private slots:
    void startScanWithHostileTerm_data();
    void startScanWithHostileTerm();
};

void TestHostileTerm::startScanWithHostileTerm_data()
{
    QTest::addColumn<QString>("term");
    QTest::addColumn<int>("intervalMs"); // kRefused: the "Scan Term Error" box

    // Long texts.
    QTest::newRow("10,000 nines") << repeated(QStringLiteral("9"), 10000) << kRefused;
    QTest::newRow("10,000 chars: 0.000...01")
        << QStringLiteral("0.") + repeated(QStringLiteral("0"), 9997) + QStringLiteral("1") << 0;
    QTest::newRow("10,000 letters") << repeated(QStringLiteral("x"), 10000) << 0;
    QTest::newRow("2.5 then 9,997 letters") << QStringLiteral("2.5") + repeated(QStringLiteral("z"), 9997) << 2500;
    QTest::newRow("9,999 blanks then 3") << repeated(QStringLiteral(" "), 9999) + QStringLiteral("3") << 3000;
    QTest::newRow("40,000 blanks then 3: cut off at the box's limit")
        << repeated(QStringLiteral(" "), 40000) + QStringLiteral("3") << 0;
    QTest::newRow("400 nines e-400") << repeated(QStringLiteral("9"), 400) + QStringLiteral("e-400") << 1000;

    // Digits that are not ASCII digits are not digits here.
    QTest::newRow("Arabic-Indic 12") << QStringLiteral("\u0661\u0662") << 0;
    QTest::newRow("fullwidth 12") << QStringLiteral("\uff11\uff12") << 0;
    QTest::newRow("Devanagari 5") << QStringLiteral("\u096b") << 0;
    QTest::newRow("superscript 2") << QStringLiteral("\u00b2") << 0;
    QTest::newRow("one half") << QStringLiteral("\u00bd") << 0;
    QTest::newRow("3 then Arabic-Indic 1") << QStringLiteral("3\u0661") << 3000;
    QTest::newRow("Arabic decimal separator") << QStringLiteral("1\u066b5") << 1000;

    // Exponents.
    QTest::newRow("1e309") << QStringLiteral("1e309") << kRefused;
    QTest::newRow("1e-309") << QStringLiteral("1e-309") << 0;
    QTest::newRow("huge exponent") << QStringLiteral("1e999999999999999999999") << kRefused;
    QTest::newRow("huge negative exponent") << QStringLiteral("1e-999999999999999999999") << 0;
    QTest::newRow("zero, huge exponent") << QStringLiteral("0e99999") << 0;
    QTest::newRow("D exponent") << QStringLiteral("1d1") << 10000;
    QTest::newRow("D exponent over range") << QStringLiteral("1D2") << kRefused;
    QTest::newRow("E+ exponent") << QStringLiteral("2E+1") << 20000;
    QTest::newRow("E without digits") << QStringLiteral("5e") << 5000;
    QTest::newRow("E- without digits") << QStringLiteral("5e-") << 5000;

    // Hexadecimal and octal.
    QTest::newRow("&HFFFFFFFFFFFFFFFF") << QStringLiteral("&HFFFFFFFFFFFFFFFF") << kRefused;
    QTest::newRow("&HFFFF") << QStringLiteral("&HFFFF") << kRefused;
    QTest::newRow("&H41") << QStringLiteral("&H41") << 65000;
    QTest::newRow("&h10") << QStringLiteral("&h10") << 16000;
    QTest::newRow("&O7") << QStringLiteral("&O7") << 7000;
    QTest::newRow("&H with no digits") << QStringLiteral("&H") << 0;
    QTest::newRow("&HG") << QStringLiteral("&HG") << 0;
    QTest::newRow("&H 1 0") << QStringLiteral("&H 1 0") << 16000;
    QTest::newRow("signed hex") << QStringLiteral("-&H5") << 0;
    QTest::newRow("C hex") << QStringLiteral("0x10") << 0;

    // Signs, points, blanks.
    QTest::newRow("-0") << QStringLiteral("-0") << 0;
    QTest::newRow("-0.0004") << QStringLiteral("-0.0004") << 0;
    QTest::newRow("-0.001") << QStringLiteral("-0.001") << kRefused;
    QTest::newRow("0.0006") << QStringLiteral("0.0006") << 1;
    QTest::newRow("+2") << QStringLiteral("+2") << 2000;
    QTest::newRow("++2") << QStringLiteral("++2") << 0;
    QTest::newRow(" 1 . 5") << QStringLiteral(" 1 . 5") << 1500;
    QTest::newRow("1 5") << QStringLiteral("1 5") << 15000;
    QTest::newRow("1,5") << QStringLiteral("1,5") << 1000;
    QTest::newRow(".5") << QStringLiteral(".5") << 500;
    QTest::newRow("5.") << QStringLiteral("5.") << 5000;
    QTest::newRow("lone point") << QStringLiteral(".") << 0;
    QTest::newRow("1.2.3") << QStringLiteral("1.2.3") << 1200;
    QTest::newRow("65") << QStringLiteral("65") << 65000;
    QTest::newRow("66") << QStringLiteral("66") << kRefused;
    QTest::newRow("NaN") << QStringLiteral("NaN") << 0;
    QTest::newRow("inf") << QStringLiteral("inf") << 0;
    QTest::newRow("-Infinity") << QStringLiteral("-Infinity") << 0;

    // Control and invisible characters.
    QTest::newRow("tab 2 line feed") << QStringLiteral("\t2\n") << 2000;
    QTest::newRow("carriage return first") << QStringLiteral("\r2") << 0;
    QTest::newRow("carriage return after") << QStringLiteral("2\r") << 2000;
    QTest::newRow("NUL first") << QString(QChar(0)) + QStringLiteral("2") << 0;
    QTest::newRow("NUL inside") << QStringLiteral("2") + QChar(0) + QStringLiteral("5") << 2000;
    QTest::newRow("escape sequence") << QStringLiteral("\x1b[2J7") << 0;
    QTest::newRow("bell after") << QStringLiteral("7\x07") << 7000;
    QTest::newRow("DEL first") << QStringLiteral("\x7f") + QStringLiteral("3") << 0;
    QTest::newRow("no-break space first") << QStringLiteral("\u00a03") << 0;
    QTest::newRow("zero-width space inside") << QStringLiteral("3\u200b4") << 3000;
    QTest::newRow("right-to-left override") << QStringLiteral("\u202e5") << 0;
    QTest::newRow("emoji") << QStringLiteral("\U0001F600") << 0;
    QTest::newRow("lone surrogate") << QString(QChar(0xd800)) + QStringLiteral("1") << 0;
}

void TestHostileTerm::startScanWithHostileTerm()
{
    QFETCH(QString, term);
    QFETCH(int, intervalMs);

    Panel panel;
    panel.start();
    panel.chooseAuto();
    panel.term()->setText(term);
    // The scan reads what the box holds.
    QCOMPARE(panel.term()->text(), term.left(kBoxLimit));
    QPushButton *startStop = panel.startStop();
    QTimer *timer = panel.timer();
    panel.pressStartStop();

    if (intervalMs == kRefused) {
        QCOMPARE(panel.messages.count(), 1);
        QCOMPARE(panel.messages.boxes().first().title, QStringLiteral("Scan Term Error"));
        QCOMPARE(panel.messages.lastText(), QStringLiteral("Set Scan Term between 0 and 65.535 sec..."));
        QCOMPARE(startStop->text(), QStringLiteral("Start Scan"));
        QVERIFY(!panel.window->scan().started());
        QVERIFY(!timer->isActive());
        QCOMPARE(panel.com1.readAll(50), QByteArray());
        return;
    }

    QCOMPARE(panel.messages.count(), 0);
    QCOMPARE(startStop->text(), QStringLiteral("Stop Scan"));
    QVERIFY(panel.window->scan().started());
    QCOMPARE(panel.window->scan().intervalMs(), intervalMs);
    // 0 arms the scan but never ticks.
    QCOMPARE(timer->isActive(), intervalMs > 0);
    // The timer is armed a little early; the tick waits out the rest to its slot.
    if (intervalMs > 0)
        QVERIFY(timer->interval() <= intervalMs && timer->interval() >= intervalMs - 2);
    if (intervalMs > 0 && intervalMs <= 100)
        QCOMPARE(panel.com1.read(5, 1000), QByteArray("V00\r\n"));

    panel.pressStartStop();
    QCOMPARE(startStop->text(), QStringLiteral("Start Scan"));
    QVERIFY(!timer->isActive());
    QCOMPARE(panel.messages.count(), 0);
}

QTEST_MAIN(TestHostileTerm)
#include "test_hostile_term.moc"
