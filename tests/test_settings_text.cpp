// The settings file's text: values read as written, a save that changes the
// one value it is about and no other byte, what QSettings reads the same, what
// is too large to use, and bytes shown in messages.
#include "link/settings_text.h"

#include <QFile>
#include <QSettings>
#include <QTemporaryDir>
#include <QtTest>

#include <optional>

namespace text = queltor::settings_text;

namespace {
const QByteArray kSettings("Settings");
const QByteArray kPorts("Ports");
} // namespace

class TestSettingsText : public QObject
{
    Q_OBJECT

private slots:
    void valueIsReadAsWritten_data();
    void valueIsReadAsWritten();
    void saveChangesOnlyTheValue_data();
    void saveChangesOnlyTheValue();
    void lineEndsAsEditorsSaveThem_data();
    void lineEndsAsEditorsSaveThem();
    void savedValueReadsBackBothWays_data();
    void savedValueReadsBackBothWays();
    void unusableText_data();
    void unusableText();
    void bytesShownAsText_data();
    void bytesShownAsText();
};

void TestSettingsText::valueIsReadAsWritten_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("group");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<bool>("found");
    QTest::addColumn<QByteArray>("expected");

    const QByteArray chNum("ChNum");
    const QByteArray com1("COM1");
    QTest::newRow("plain") << QByteArray("[Settings]\nChNum=4\n") << kSettings << chNum << true << QByteArray("4");
    QTest::newRow("blanks around trimmed, inside kept")
        << QByteArray("[Ports]\nCOM1 = \t/dev/my port \t\n") << kPorts << com1 << true << QByteArray("/dev/my port");
    QTest::newRow("comma, semicolon and hash kept")
        << QByteArray("[Ports]\nCOM1=/dev/serial/by-id/usb-Rig_Co.,_Ltd_A1;x#1\n") << kPorts << com1 << true
        << QByteArray("/dev/serial/by-id/usb-Rig_Co.,_Ltd_A1;x#1");
    QTest::newRow("bytes that are not UTF-8 kept")
        << QByteArray("[Ports]\nCOM1=/dev/\xff\xfe\x80\n") << kPorts << com1 << true << QByteArray("/dev/\xff\xfe\x80");
    QTest::newRow("CRLF") << QByteArray("[Ports]\r\nCOM1=/dev/ttyUSB0\r\n") << kPorts << com1 << true
                          << QByteArray("/dev/ttyUSB0");
    QTest::newRow("quoted by QSettings, escapes read") << QByteArray(R"([Ports]
COM1=" /dev/a,b \"c\" \\d\x41\t\101\q"
)") << kPorts << com1 << true << QByteArray(" /dev/a,b \"c\" \\dA\tA");
    QTest::newRow("quoted by an older QSettings, UTF-16 escapes") << QByteArray(R"([Ports]
COM1="caf\xe9 \xd83d\xde00"
)") << kPorts << com1 << true << QByteArray("caf\xc3\xa9 \xf0\x9f\x98\x80");
    QTest::newRow("empty is not absent") << QByteArray("[Settings]\nChNum=\n") << kSettings << chNum << true
                                         << QByteArray();
    QTest::newRow("last of two lines counts") << QByteArray("[Settings]\nChNum=3\n[Ports]\n[Settings]\nChNum=5\n")
                                              << kSettings << chNum << true << QByteArray("5");
    QTest::newRow("spaced header, no final line end")
        << QByteArray("  [ Settings ]  \nChNum=7") << kSettings << chNum << true << QByteArray("7");
    QTest::newRow("header without its bracket")
        << QByteArray("[Settings\nChNum=7\n") << kSettings << chNum << true << QByteArray("7");
    QTest::newRow("a stray quote spoils its line only") << QByteArray("[Settings]\n\"ChNum=4\nComPort=2\n") << kSettings
                                                        << QByteArray("ComPort") << true << QByteArray("2");
    QTest::newRow("absent") << QByteArray("[Settings]\nComPort=2\n") << kSettings << chNum << false << QByteArray();
    QTest::newRow("other group") << QByteArray("[Ports]\nChNum=3\n") << kSettings << chNum << false << QByteArray();
    QTest::newRow("before any group") << QByteArray("ChNum=3\n[Settings]\n") << kSettings << chNum << false
                                      << QByteArray();
    QTest::newRow("comments") << QByteArray("[Settings]\n;ChNum=3\n  # ChNum=5\n") << kSettings << chNum << false
                              << QByteArray();
    QTest::newRow("keys are case-sensitive")
        << QByteArray("[Settings]\nchnum=3\n") << kSettings << chNum << false << QByteArray();
}

void TestSettingsText::valueIsReadAsWritten()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, group);
    QFETCH(QByteArray, key);
    QFETCH(bool, found);
    QFETCH(QByteArray, expected);

    const std::optional<QByteArray> value = text::value(file, group, key);
    QCOMPARE(value.has_value(), found);
    if (found)
        QCOMPARE(*value, expected);
}

void TestSettingsText::saveChangesOnlyTheValue_data()
{
    QTest::addColumn<QByteArray>("before");
    QTest::addColumn<QByteArray>("key");
    QTest::addColumn<QByteArray>("value");
    QTest::addColumn<QByteArray>("after");

    const QByteArray chNum("ChNum");
    const QByteArray comPort("ComPort");
    QTest::newRow("in place, spacing kept") << QByteArray("[Settings]\nChNum = 1 \nComPort=2\n") << chNum
                                            << QByteArray("4") << QByteArray("[Settings]\nChNum = 4 \nComPort=2\n");
    QTest::newRow("CRLF, comments and other groups kept")
        << QByteArray("; mine\r\n[Ports]\r\nCOM1=/dev/a,b\r\n\r\n[Settings]\r\n# note\r\nChNum=1\r\n[X]\r\n") << chNum
        << QByteArray("9")
        << QByteArray("; mine\r\n[Ports]\r\nCOM1=/dev/a,b\r\n\r\n[Settings]\r\n# note\r\nChNum=9\r\n[X]\r\n");
    QTest::newRow("quoted value") << QByteArray("[Settings]\nComPort=\"1\"\n") << comPort << QByteArray("2")
                                  << QByteArray("[Settings]\nComPort=2\n");
    QTest::newRow("last of two lines") << QByteArray("[Settings]\nChNum=1\nChNum=2\n") << chNum << QByteArray("4")
                                       << QByteArray("[Settings]\nChNum=1\nChNum=4\n");
    QTest::newRow("text that needs quotes") << QByteArray("[Settings]\nChNum=1\n") << chNum << QByteArray("a,b")
                                            << QByteArray("[Settings]\nChNum=\"a,b\"\n");
    QTest::newRow("missing key ends its group")
        << QByteArray("[Settings]\nChNum=1\n; next\n\n[Ports]\nCOM1=x\n") << comPort << QByteArray("2")
        << QByteArray("[Settings]\nChNum=1\nComPort=2\n; next\n\n[Ports]\nCOM1=x\n");
    QTest::newRow("missing key after a bare header")
        << QByteArray("[Settings]") << chNum << QByteArray("4") << QByteArray("[Settings]\nChNum=4");
    QTest::newRow("missing group, CRLF") << QByteArray("[Ports]\r\nCOM1=x\r\n") << chNum << QByteArray("4")
                                         << QByteArray("[Ports]\r\nCOM1=x\r\n\r\n[Settings]\r\nChNum=4\r\n");
    QTest::newRow("missing group, no final line end") << QByteArray("[Ports]\nCOM1=x") << chNum << QByteArray("4")
                                                      << QByteArray("[Ports]\nCOM1=x\n\n[Settings]\nChNum=4\n");
    QTest::newRow("empty file") << QByteArray() << chNum << QByteArray("4") << QByteArray("[Settings]\nChNum=4\n");
    QTest::newRow("garbage kept") << QByteArray("\x01\xff\xfe=\"\n[Settings\nChNum=1\n\0\n", 23) << chNum
                                  << QByteArray("4") << QByteArray("\x01\xff\xfe=\"\n[Settings\nChNum=4\n\0\n", 23);
}

void TestSettingsText::saveChangesOnlyTheValue()
{
    QFETCH(QByteArray, before);
    QFETCH(QByteArray, key);
    QFETCH(QByteArray, value);
    QFETCH(QByteArray, after);

    const QByteArray saved = text::withValue(before, kSettings, key, value);
    QCOMPARE(saved, after);
    QCOMPARE(text::value(saved, kSettings, key), std::optional<QByteArray>(value));
}

void TestSettingsText::lineEndsAsEditorsSaveThem_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QByteArray>("saved"); // with ComPort=2 added

    QTest::newRow("LF") << QByteArray("[Ports]\nCOM1=/dev/a\n[Settings]\nChNum=3\n")
                        << QByteArray("[Ports]\nCOM1=/dev/a\n[Settings]\nChNum=3\nComPort=2\n");
    QTest::newRow("byte order mark, CR LF")
        << QByteArray("\xEF\xBB\xBF[Ports]\r\nCOM1=/dev/a\r\n[Settings]\r\nChNum=3\r\n")
        << QByteArray("\xEF\xBB\xBF[Ports]\r\nCOM1=/dev/a\r\n[Settings]\r\nChNum=3\r\nComPort=2\r\n");
    QTest::newRow("lone CR") << QByteArray("[Ports]\rCOM1=/dev/a\r[Settings]\rChNum=3\r")
                             << QByteArray("[Ports]\rCOM1=/dev/a\r[Settings]\rChNum=3\rComPort=2\r");
    QTest::newRow("byte order mark, lone CR, no final line end")
        << QByteArray("\xEF\xBB\xBF[Ports]\rCOM1=/dev/a\r[Settings]\rChNum=3")
        << QByteArray("\xEF\xBB\xBF[Ports]\rCOM1=/dev/a\r[Settings]\rChNum=3\rComPort=2");
    // Lines added end as the first line does.
    QTest::newRow("mixed") << QByteArray("[Ports]\r\nCOM1=/dev/a\n[Settings]\rChNum=3\n; end\r")
                           << QByteArray("[Ports]\r\nCOM1=/dev/a\n[Settings]\rChNum=3\nComPort=2\r\n; end\r");
}

// Whatever the editor ended its lines with, the same map, and a save keeps every byte it wrote.
void TestSettingsText::lineEndsAsEditorsSaveThem()
{
    QFETCH(QByteArray, file);
    QFETCH(QByteArray, saved);
    QCOMPARE(text::value(file, kPorts, "COM1"), std::optional<QByteArray>("/dev/a"));
    QCOMPARE(text::value(file, kSettings, "ChNum"), std::optional<QByteArray>("3"));
    QCOMPARE(text::value(file, kSettings, "ComPort"), std::optional<QByteArray>());
    QCOMPARE(text::withValue(file, kSettings, "ComPort", "2"), saved);
    QCOMPARE(text::value(saved, kSettings, "ComPort"), std::optional<QByteArray>("2"));
    QCOMPARE(text::withValue(file, kSettings, "ChNum", "4"), QByteArray(file).replace("ChNum=3", "ChNum=4"));
}

void TestSettingsText::savedValueReadsBackBothWays_data()
{
    QTest::addColumn<QByteArray>("value");

    for (const char *value : {"4", "", "a,b", "a;b", "a=b", " lead", "trail\t", "q\"uote", "back\\slash", "#hash",
                              "[bracket", "caf\xc3\xa9", "tab\tin",
                              "\x01"
                              "f after a control byte",
                              "line\nend\r"})
        QTest::newRow(value) << QByteArray(value);
}

void TestSettingsText::savedValueReadsBackBothWays()
{
    QFETCH(QByteArray, value);
    const QByteArray saved = text::withValue("[Settings]\nChNum=1\n", kSettings, "ChNum", value);
    QCOMPARE(text::value(saved, kSettings, "ChNum"), std::optional<QByteArray>(value));

    // What the panel writes, QSettings reads the same.
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("QUELTOR.conf"));
    QFile out(file);
    QVERIFY(out.open(QIODevice::WriteOnly) && out.write(saved) == saved.size());
    out.close();
    QCOMPARE(QSettings(file, QSettings::IniFormat).value(QStringLiteral("Settings/ChNum")).toString(),
             QString::fromUtf8(value));
}

void TestSettingsText::unusableText_data()
{
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QString>("flaw");

    const qsizetype limit = text::kMaxFileBytes;
    QTest::newRow("64 KB") << QByteArray(limit, '\n') << QString();
    QTest::newRow("a byte more") << QByteArray(limit + 1, '\n') << QStringLiteral("is larger than 64 KB");
    QTest::newRow("1,000 characters") << "[Settings]\nChNum=" + QByteArray(1000, 'a') << QString();
    QTest::newRow("1,000 two-byte characters")
        << "[Settings]\nChNum=" + QByteArray("\xc3\xa9").repeated(1000) << QString();
    QTest::newRow("1,001 characters") << "[Settings]\nChNum=" + QByteArray(1001, 'a') + "\n"
                                      << QStringLiteral("has a value of more than 1,000 characters on line 2");
    QTest::newRow("a long comment is no value") << ";" + QByteArray(5000, '=') << QString();
}

void TestSettingsText::unusableText()
{
    QFETCH(QByteArray, file);
    QFETCH(QString, flaw);
    QCOMPARE(text::flaw(file), flaw);
}

void TestSettingsText::bytesShownAsText_data()
{
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("shown");

    QTest::newRow("plain path") << QByteArray("/dev/ttyUSB0") << QStringLiteral("/dev/ttyUSB0");
    QTest::newRow("UTF-8") << QByteArray("/dev/caf\xc3\xa9 \xf0\x9f\x98\x80")
                           << QStringLiteral("/dev/caf\u00e9 \U0001F600");
    QTest::newRow("not UTF-8") << QByteArray("a\xff\xfe"
                                             "b")
                               << QStringLiteral("a\\xFF\\xFEb");
    QTest::newRow("control bytes") << QByteArray("a\nb\x7f") << QStringLiteral("a\\x0Ab\\x7F");
    QTest::newRow("overlong, surrogate, cut short")
        << QByteArray("\xc0\xaf\xed\xa0\x80\xe2\x82") << QStringLiteral("\\xC0\\xAF\\xED\\xA0\\x80\\xE2\\x82");
}

void TestSettingsText::bytesShownAsText()
{
    QFETCH(QByteArray, bytes);
    QFETCH(QString, shown);
    QCOMPARE(text::forDisplay(bytes), shown);
}

QTEST_GUILESS_MAIN(TestSettingsText)
#include "test_settings_text.moc"
