#include "channel/numbers.h"

#include <QElapsedTimer>
#include <QLocale>
#include <QTest>

#include <climits>
#include <cmath>
#include <limits>

using namespace queltor;

namespace {

const double inf = std::numeric_limits<double>::infinity();

// Exact comparison: a reading that is one ulp off is wrong, not "close enough".
bool same(double actual, double expected) { return actual == expected || (std::isnan(actual) && std::isnan(expected)); }

QByteArray describe(double actual, double expected)
{
    return QByteArray("actual ") + QByteArray::number(actual, 'g', 17) + " expected "
        + QByteArray::number(expected, 'g', 17);
}

QString repeated(const QString &piece, int times)
{
    QString text;
    text.reserve(piece.size() * times);
    for (int i = 0; i < times; ++i)
        text += piece;
    return text;
}

} // namespace

class TestNumbers : public QObject
{
    Q_OBJECT

private slots:
    void decimalText_data();
    void decimalText();

    void numericValue_data();
    void numericValue();
    void numericValue_longTexts_data();
    void numericValue_longTexts();
    void readingIsLinear();

    void strictNumber_data();
    void strictNumber();

    void readingIgnoresDefaultLocale();

    void roundHalfEven_data();
    void roundHalfEven();
    void roundToInt16_data();
    void roundToInt16();
};

void TestNumbers::decimalText_data()
{
    QTest::addColumn<qlonglong>("value");
    QTest::addColumn<QString>("expected");

    QTest::newRow("zero") << 0LL << "0";
    QTest::newRow("one digit") << 7LL << "7";
    QTest::newRow("two digits") << 19LL << "19";
    QTest::newRow("round hundred") << 100LL << "100";
    QTest::newRow("negative") << -5LL << "-5";
    QTest::newRow("negative hundred") << -100LL << "-100";
    QTest::newRow("int16 max") << 32767LL << "32767";
    QTest::newRow("int16 min") << -32768LL << "-32768";
    QTest::newRow("llong max") << LLONG_MAX << "9223372036854775807";
    QTest::newRow("llong min") << LLONG_MIN << "-9223372036854775808";
}

void TestNumbers::decimalText()
{
    QFETCH(qlonglong, value);
    QFETCH(QString, expected);
    QCOMPARE(queltor::decimalText(value), expected);
}

void TestNumbers::numericValue_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    // Blanks, tabs and line feeds vanish wherever they stand.
    QTest::newRow("blanks around the point") << " 1 . 5" << 1.5;
    QTest::newRow("blank between digits") << "1 2" << 12.0;
    QTest::newRow("leading tab and line feed") << "\t\n 42" << 42.0;
    QTest::newRow("blank after sign") << "- 3" << -3.0;
    QTest::newRow("blanks around exponent") << "1 e \t2" << 100.0;
    QTest::newRow("blanks inside hex prefix") << "& h f\nf" << 255.0;
    QTest::newRow("tab and line feed between digits") << "1\t\n2" << 12.0;
    QTest::newRow("empty") << "" << 0.0;
    QTest::newRow("only blanks") << " \t\n " << 0.0;

    QTest::newRow("plus sign") << "+7" << 7.0;
    QTest::newRow("minus sign") << "-7" << -7.0;
    QTest::newRow("two signs") << "+-7" << 0.0;
    QTest::newRow("double minus") << "--7" << 0.0;
    QTest::newRow("lone sign") << "-" << 0.0;
    QTest::newRow("leading zeros") << "007" << 7.0;

    QTest::newRow("fraction only") << ".5" << 0.5;
    QTest::newRow("trailing point") << "1." << 1.0;
    QTest::newRow("tenth") << "0.1" << 0.1;
    QTest::newRow("negative fraction only") << "-.25" << -0.25;
    QTest::newRow("lone point") << "." << 0.0;
    QTest::newRow("second point stops") << "1.2.3" << 1.2;

    QTest::newRow("E exponent") << "1E3" << 1000.0;
    QTest::newRow("e exponent") << "1e3" << 1000.0;
    QTest::newRow("D exponent") << "2D2" << 200.0;
    QTest::newRow("d exponent negative") << "2d-2" << 0.02;
    QTest::newRow("exponent plus") << "1e+2" << 100.0;
    QTest::newRow("fraction and exponent") << "1.5e1" << 15.0;
    QTest::newRow("point then exponent") << "3.e2" << 300.0;
    QTest::newRow("bare e") << "1e" << 1.0;
    QTest::newRow("bare e plus") << "1e+" << 1.0;
    QTest::newRow("bare d minus") << "1d-" << 1.0;
    QTest::newRow("e then letter") << "1ex" << 1.0;
    QTest::newRow("fraction in exponent stops") << "1e2.5" << 100.0;
    QTest::newRow("second exponent stops") << "1e2e3" << 100.0;
    QTest::newRow("exponent without mantissa") << "e5" << 0.0;
    QTest::newRow("point then exponent, no digits") << ".e5" << 0.0;
    QTest::newRow("underflow") << "1e-400" << 0.0;
    QTest::newRow("smallest subnormal") << "4.9e-324" << std::numeric_limits<double>::denorm_min();
    QTest::newRow("largest double") << "1.7976931348623157e308" << std::numeric_limits<double>::max();

    QTest::newRow("hex prefix without digits") << "&H" << 0.0;
    QTest::newRow("hex FF") << "&HFF" << 255.0;
    QTest::newRow("hex lower case") << "&hff" << 255.0;
    QTest::newRow("hex stops at G") << "&HFG" << 15.0;
    QTest::newRow("octal 17") << "&O17" << 15.0;
    QTest::newRow("octal lower case") << "&o17" << 15.0;
    QTest::newRow("octal stops at 8") << "&O178" << 15.0;
    QTest::newRow("octal without valid digit") << "&O8" << 0.0;
    QTest::newRow("hex is not signed") << "&HFFFF" << 65535.0;
    QTest::newRow("sign before prefix") << "-&H1" << 0.0;
    QTest::newRow("ampersand alone") << "&" << 0.0;
    QTest::newRow("unknown prefix") << "&X1" << 0.0;
    QTest::newRow("hex 2^64 - 1") << "&HFFFFFFFFFFFFFFFF" << 18446744073709551616.0;
    QTest::newRow("octal beyond 64 bits") << "&O" + repeated("7", 30) << std::ldexp(1.0, 90);
    // 2^53 + 1 is a tie and goes to the even 2^53 ...
    QTest::newRow("hex tie to even") << "&H20000000000001" << 9007199254740992.0;
    // ... but a nonzero digit far below breaks the tie upwards.
    QTest::newRow("hex tie broken by low digit") << "&H2000000000000100000001" << std::ldexp(9007199254740994.0, 32);
    QTest::newRow("hex with many leading zeros") << "&H" + repeated("0", 40) + "1F" << 31.0;
    QTest::newRow("hex 2^1000 - 1") << "&H" + repeated("F", 250) << std::ldexp(1.0, 1000);
    QTest::newRow("hex too large") << "&H" + repeated("F", 300) << inf;

    QTest::newRow("letters after digits") << "12abc" << 12.0;
    QTest::newRow("comma is no point") << "3,5" << 3.0;
    QTest::newRow("underscore") << "1_000" << 1.0;
    QTest::newRow("minus after digits") << "12-3" << 12.0;
    QTest::newRow("letters") << "abc" << 0.0;
    QTest::newRow("letter first") << "x12" << 0.0;

    QTest::newRow("Arabic-Indic digits") << QStringLiteral("\u0661\u0662") << 0.0;
    QTest::newRow("full-width digits") << QStringLiteral("\uFF11\uFF12") << 0.0;
    QTest::newRow("full-width digit after ASCII") << QStringLiteral("1\uFF12") << 1.0;
    QTest::newRow("superscript two") << QStringLiteral("\u00B2") << 0.0;
    QTest::newRow("no-break space is no blank") << QStringLiteral("\u00A012") << 0.0;

    QTest::newRow("overflow") << "1e309" << inf;
    QTest::newRow("negative overflow") << "-1e309" << -inf;
    QTest::newRow("just above the largest double") << "1.7976931348623159e308" << inf;
    QTest::newRow("huge exponent") << "1e99999999999999999999" << inf;
    QTest::newRow("huge negative exponent") << "1e-99999999999999999999" << 0.0;
    QTest::newRow("zero with huge exponent") << "0e99999999999999999999" << 0.0;

    QTest::newRow("carriage return is not skipped") << "\r12" << 0.0;
    QTest::newRow("carriage return stops") << "1\r2" << 1.0;
    QTest::newRow("NUL first") << QString(QChar(0)) + "1" << 0.0;
    QTest::newRow("NUL stops") << "1" + QString(QChar(0)) + "2" << 1.0;
    QTest::newRow("vertical tab") << "\v1" << 0.0;
    QTest::newRow("form feed") << "\f1" << 0.0;
    QTest::newRow("escape stops") << "4\x1b"
                                     "5"
                                  << 4.0;
}

void TestNumbers::numericValue()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    const double actual = queltor::numericValue(text);
    QVERIFY2(same(actual, expected), describe(actual, expected).constData());
}

void TestNumbers::numericValue_longTexts_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<double>("expected");

    QTest::newRow("10,000 digits overflow") << "1" + repeated("0", 9999) << inf;
    QTest::newRow("10,000 digits scaled down") << repeated("1", 10000) + "e-9999" << 10.0 / 9.0;
    QTest::newRow("10,000 fraction digits scaled up") << "0." + repeated("0", 9999) + "1e10000" << 1.0;
    QTest::newRow("10,000 blank-separated digits") << repeated("3 ", 10000) + "d-9999" << 10.0 / 3.0;
    QTest::newRow("10,000 leading zeros") << repeated("0", 10000) + "42" << 42.0;
    QTest::newRow("10,000 exponent digits") << "1e-" + repeated("0", 10000) + "5" << 1e-5;
    QTest::newRow("10,000 blanks first") << repeated(" ", 10000) + "-8" << -8.0;
    QTest::newRow("10,000 hex zeros") << "&H" + repeated("0", 10000) + "FF" << 255.0;
    QTest::newRow("10,000 fraction digits underflow") << "0." + repeated("0", 10000) + "1" << 0.0;
}

void TestNumbers::numericValue_longTexts()
{
    QFETCH(QString, text);
    QFETCH(double, expected);
    const double actual = queltor::numericValue(text);
    QVERIFY2(same(actual, expected), describe(actual, expected).constData());

    // The same texts, free of inner blanks, are also valid stored settings.
    if (!text.trimmed().contains(QLatin1Char(' '))) {
        const auto strict = queltor::strictNumber(text);
        QVERIFY(strict.has_value());
        QVERIFY2(same(*strict, expected), describe(*strict, expected).constData());
    }
}

void TestNumbers::readingIsLinear()
{
    // A million digits with blanks between them: quadratic work would take
    // minutes here, linear work a fraction of a second.
    const QString text = repeated("7 ", 1'000'000) + "e-999999";
    QElapsedTimer timer;
    timer.start();
    const double value = queltor::numericValue(text);
    const qint64 elapsed = timer.elapsed();
    QVERIFY2(same(value, 70.0 / 9.0), describe(value, 70.0 / 9.0).constData());
    QVERIFY2(elapsed < 3000, QByteArray::number(elapsed) + " ms");

    const QString settingText = repeated("9", 1'000'000);
    timer.restart();
    const auto setting = queltor::strictNumber(settingText);
    QVERIFY2(timer.elapsed() < 3000, QByteArray::number(timer.elapsed()) + " ms");
    QVERIFY(setting.has_value());
    QCOMPARE(*setting, inf);
}

void TestNumbers::strictNumber_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<double>("expected");

    QTest::newRow("digit") << "7" << true << 7.0;
    QTest::newRow("blanks around") << " 2 " << true << 2.0;
    QTest::newRow("tab, CR and LF around") << "\t-1\r\n" << true << -1.0;
    QTest::newRow("fraction") << "1.5" << true << 1.5;
    QTest::newRow("E exponent") << "1E2" << true << 100.0;
    QTest::newRow("d exponent") << "2d1" << true << 20.0;
    QTest::newRow("exponent with sign") << "25e-1" << true << 2.5;
    QTest::newRow("hex") << "&H1F" << true << 31.0;
    QTest::newRow("octal lower case") << "&o7" << true << 7.0;
    QTest::newRow("plus and fraction only") << "+.5" << true << 0.5;
    QTest::newRow("trailing point") << "1." << true << 1.0;
    QTest::newRow("leading zeros") << "009" << true << 9.0;
    QTest::newRow("overflow") << "1e400" << true << inf;
    QTest::newRow("negative overflow") << "-1e400" << true << -inf;
    QTest::newRow("underflow") << "1e-400" << true << 0.0;

    QTest::newRow("empty") << "" << false << 0.0;
    QTest::newRow("only blanks") << " \r\n\t" << false << 0.0;
    QTest::newRow("letters") << "abc" << false << 0.0;
    QTest::newRow("trailing letter") << "3x" << false << 0.0;
    QTest::newRow("bare exponent") << "1e" << false << 0.0;
    QTest::newRow("bare exponent sign") << "1e+" << false << 0.0;
    QTest::newRow("lone point") << "." << false << 0.0;
    QTest::newRow("lone plus") << "+" << false << 0.0;
    QTest::newRow("lone minus") << "-" << false << 0.0;
    QTest::newRow("inner blank") << "1 2" << false << 0.0;
    QTest::newRow("blank before point") << "1 .5" << false << 0.0;
    QTest::newRow("blank after sign") << "- 1" << false << 0.0;
    QTest::newRow("blank before exponent digits") << "1e 2" << false << 0.0;
    QTest::newRow("blank after hex prefix") << "&H 1" << false << 0.0;
    QTest::newRow("hex prefix only") << "&H" << false << 0.0;
    QTest::newRow("octal prefix only") << "&O" << false << 0.0;
    QTest::newRow("bad hex digit") << "&H1G" << false << 0.0;
    QTest::newRow("bad octal digit") << "&O8" << false << 0.0;
    QTest::newRow("sign before prefix") << "-&H1" << false << 0.0;
    QTest::newRow("two points") << "1.2.3" << false << 0.0;
    QTest::newRow("two signs") << "++1" << false << 0.0;
    QTest::newRow("two exponents") << "1e2e3" << false << 0.0;
    QTest::newRow("comma") << "1,5" << false << 0.0;
    QTest::newRow("Arabic-Indic digit") << QStringLiteral("\u0667") << false << 0.0;
    QTest::newRow("no-break space around") << QStringLiteral("\u00A07") << false << 0.0;
    QTest::newRow("vertical tab around") << "\v7" << false << 0.0;
    QTest::newRow("form feed after") << "7\f" << false << 0.0;
    QTest::newRow("NUL after") << "7" + QString(QChar(0)) << false << 0.0;
}

void TestNumbers::strictNumber()
{
    QFETCH(QString, text);
    QFETCH(bool, accepted);
    QFETCH(double, expected);
    const auto actual = queltor::strictNumber(text);
    QCOMPARE(actual.has_value(), accepted);
    if (accepted)
        QVERIFY2(same(*actual, expected), describe(*actual, expected).constData());
}

void TestNumbers::readingIgnoresDefaultLocale()
{
    // A German default locale reads "1,5" as one and a half; these readings must not.
    const QLocale previous;
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    const double lenient = queltor::numericValue(u"1.5");
    const double lenientComma = queltor::numericValue(u"1,5");
    const auto strict = queltor::strictNumber(u"2.25");
    const auto strictComma = queltor::strictNumber(u"2,25");
    const QString text = queltor::decimalText(-1234567);
    QLocale::setDefault(previous);

    QCOMPARE(lenient, 1.5);
    QCOMPARE(lenientComma, 1.0);
    QVERIFY(strict.has_value());
    QCOMPARE(*strict, 2.25);
    QVERIFY(!strictComma.has_value());
    QCOMPARE(text, QStringLiteral("-1234567"));
}

void TestNumbers::roundHalfEven_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<qlonglong>("lowest");
    QTest::addColumn<qlonglong>("highest");
    QTest::addColumn<bool>("inRange");
    QTest::addColumn<qlonglong>("expected");

    const qlonglong lo = LLONG_MIN;
    const qlonglong hi = LLONG_MAX;

    QTest::newRow("0.5 to 0") << 0.5 << lo << hi << true << 0LL;
    QTest::newRow("1.5 to 2") << 1.5 << lo << hi << true << 2LL;
    QTest::newRow("2.5 to 2") << 2.5 << lo << hi << true << 2LL;
    QTest::newRow("3.5 to 4") << 3.5 << lo << hi << true << 4LL;
    QTest::newRow("-0.5 to 0") << -0.5 << lo << hi << true << 0LL;
    QTest::newRow("-1.5 to -2") << -1.5 << lo << hi << true << -2LL;
    QTest::newRow("-2.5 to -2") << -2.5 << lo << hi << true << -2LL;
    QTest::newRow("below half") << 2.4 << lo << hi << true << 2LL;
    QTest::newRow("above half") << 2.6 << lo << hi << true << 3LL;
    QTest::newRow("negative above half") << -2.6 << lo << hi << true << -3LL;
    // Adding 0.5 and flooring gets these two wrong.
    QTest::newRow("just below a half") << 0.49999999999999994 << lo << hi << true << 0LL;
    QTest::newRow("2^52 + 1") << 4503599627370497.0 << lo << hi << true << 4503599627370497LL;
    QTest::newRow("largest double below 2^63") << 9223372036854774784.0 << lo << hi << true << 9223372036854774784LL;
    QTest::newRow("-2^63") << -9223372036854775808.0 << lo << hi << true << LLONG_MIN;
    QTest::newRow("2^63 does not fit") << 9223372036854775808.0 << lo << hi << false << 0LL;
    QTest::newRow("huge") << 1e300 << lo << hi << false << 0LL;
    QTest::newRow("huge negative") << -1e300 << lo << hi << false << 0LL;
    QTest::newRow("NaN") << std::nan("") << lo << hi << false << 0LL;
    QTest::newRow("infinity") << inf << lo << hi << false << 0LL;
    QTest::newRow("minus infinity") << -inf << lo << hi << false << 0LL;

    QTest::newRow("top edge, half down to even") << 10.5 << 0LL << 10LL << true << 10LL;
    QTest::newRow("top edge, half up to even") << 9.5 << 0LL << 10LL << true << 10LL;
    QTest::newRow("past top edge") << 10.6 << 0LL << 10LL << false << 0LL;
    QTest::newRow("bottom edge, negative half") << -0.5 << 0LL << 10LL << true << 0LL;
    QTest::newRow("past bottom edge") << -0.6 << 0LL << 10LL << false << 0LL;
}

void TestNumbers::roundHalfEven()
{
    QFETCH(double, value);
    QFETCH(qlonglong, lowest);
    QFETCH(qlonglong, highest);
    QFETCH(bool, inRange);
    QFETCH(qlonglong, expected);
    const auto actual = queltor::roundHalfEven(value, lowest, highest);
    QCOMPARE(actual.has_value(), inRange);
    if (inRange)
        QCOMPARE(*actual, expected);
}

void TestNumbers::roundToInt16_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("inRange");
    QTest::addColumn<int>("expected");

    QTest::newRow("whole") << 7.0 << true << 7;
    QTest::newRow("half to even zero") << 0.5 << true << 0;
    QTest::newRow("half to even four") << 4.5 << true << 4;
    QTest::newRow("top") << 32767.0 << true << 32767;
    QTest::newRow("just under top half") << 32767.4 << true << 32767;
    QTest::newRow("top half rounds out") << 32767.5 << false << 0;
    QTest::newRow("half below top to even") << 32766.5 << true << 32766;
    QTest::newRow("bottom") << -32768.0 << true << -32768;
    QTest::newRow("bottom half rounds in") << -32768.5 << true << -32768;
    QTest::newRow("past bottom") << -32768.6 << false << 0;
    QTest::newRow("one below bottom") << -32769.0 << false << 0;
    QTest::newRow("one above top") << 32768.0 << false << 0;
    QTest::newRow("huge") << 1e20 << false << 0;
    QTest::newRow("NaN") << std::nan("") << false << 0;
    QTest::newRow("infinity") << inf << false << 0;
    QTest::newRow("minus infinity") << -inf << false << 0;
}

void TestNumbers::roundToInt16()
{
    QFETCH(double, value);
    QFETCH(bool, inRange);
    QFETCH(int, expected);
    const auto actual = queltor::roundToInt16(value);
    QCOMPARE(actual.has_value(), inRange);
    if (inRange)
        QCOMPARE(int(*actual), expected);
}

QTEST_APPLESS_MAIN(TestNumbers)

#include "test_numbers.moc"
