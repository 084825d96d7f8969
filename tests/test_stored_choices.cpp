// What start-up makes of the stored choices, read from a real settings file:
// usable values are taken, anything else falls back to its default with one
// warning that quotes the stored text.
#include "temp_config.h"

#include "link/settings_store.h"
#include "link/stored_choices.h"

#include <QtTest>

using namespace queltor;

class TestStoredChoices : public QObject
{
    Q_OBJECT
private slots:
    void storedTextGivesChoice_data();
    void storedTextGivesChoice();
    void quotedTextIsCut_data();
    void quotedTextIsCut();
};

void TestStoredChoices::storedTextGivesChoice_data()
{
    QTest::addColumn<QString>("chNum"); // "-" leaves the key out
    QTest::addColumn<QString>("comPort");
    QTest::addColumn<int>("bankIndex");
    QTest::addColumn<int>("port");
    QTest::addColumn<QStringList>("warnedKeys");

    const QStringList none;
    const QStringList chNum{QStringLiteral("ChNum")};
    const QStringList comPort{QStringLiteral("ComPort")};
    QTest::newRow("first run") << "-"
                               << "-" << 1 << 1 << none;
    QTest::newRow("saved") << "9"
                           << "2" << 9 << 2 << none;
    QTest::newRow("a port the menu lacks") << "0"
                                           << "255" << 0 << 255 << none;
    QTest::newRow("blanks around") << " 4 "
                                   << "\t2 " << 4 << 2 << none;
    QTest::newRow("fractions round through the count") << "0.5"
                                                       << "1.5" << 0 << 2 << none;
    QTest::newRow("exponent and hex") << "9E0"
                                      << "&H2" << 9 << 2 << none;

    QTest::newRow("ChNum empty") << ""
                                 << "2" << 1 << 2 << chNum;
    QTest::newRow("ChNum letters") << "abc"
                                   << "2" << 1 << 2 << chNum;
    QTest::newRow("ChNum trailing junk") << "3x"
                                         << "2" << 1 << 2 << chNum;
    QTest::newRow("ChNum bank 10") << "10"
                                   << "2" << 1 << 2 << chNum;
    QTest::newRow("ChNum negative") << "-1"
                                    << "2" << 1 << 2 << chNum;
    QTest::newRow("ChNum overflows 16 bits") << "5000"
                                             << "2" << 1 << 2 << chNum;
    QTest::newRow("ChNum too large to read") << "1e400"
                                             << "2" << 1 << 2 << chNum;
    QTest::newRow("ComPort letters") << "3"
                                     << "COM2" << 3 << 1 << comPort;
    QTest::newRow("ComPort zero") << "3"
                                  << "0" << 3 << 1 << comPort;
    QTest::newRow("ComPort 256") << "3"
                                 << "256" << 3 << 1 << comPort;
    QTest::newRow("ComPort overflows 16 bits") << "3"
                                               << "40000" << 3 << 1 << comPort;
    QTest::newRow("ComPort empty") << "3"
                                   << "" << 3 << 1 << comPort;
    QTest::newRow("both bad") << "x"
                              << "y" << 1 << 1 << (chNum + comPort);
    QTest::newRow("long text") << QString(999, QLatin1Char('9')) << "2" << 1 << 2 << chNum;
}

void TestStoredChoices::storedTextGivesChoice()
{
    QFETCH(QString, chNum);
    QFETCH(QString, comPort);
    QFETCH(int, bankIndex);
    QFETCH(int, port);
    QFETCH(QStringList, warnedKeys);

    TempConfig config;
    const QString settings = QStringLiteral("Settings");
    if (chNum != QLatin1String("-"))
        config.setValue(settings, QStringLiteral("ChNum"), chNum);
    if (comPort != QLatin1String("-"))
        config.setValue(settings, QStringLiteral("ComPort"), comPort);

    const StoredChoices choices = readStoredChoices(SettingsStore());
    QCOMPARE(choices.bankIndex, bankIndex);
    QCOMPARE(choices.port, port);
    QCOMPARE(choices.failures.size(), warnedKeys.size());
    for (int i = 0; i < warnedKeys.size(); ++i) {
        const QString stored = warnedKeys[i] == QLatin1String("ChNum") ? chNum : comPort;
        // Each names its key and quotes what was stored, so the user can find it, in a box of its own.
        const Failure &failure = choices.failures[i];
        QVERIFY2(failure.what.contains(warnedKeys[i]) && failure.what.contains(quotedForMessage(stored)),
                 qPrintable(failure.text()));
        QCOMPARE(failure.kind,
                 warnedKeys[i] == QLatin1String("ChNum") ? Failure::Kind::StoredCount : Failure::Kind::StoredPort);
    }
}

void TestStoredChoices::quotedTextIsCut_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("quoted");

    const QString forty = QStringLiteral("0123456789").repeated(4);
    QTest::newRow("short") << QStringLiteral("abc") << QStringLiteral("\"abc\"");
    QTest::newRow("40 characters") << forty << QLatin1Char('"') + forty + QLatin1Char('"');
    QTest::newRow("41 characters") << forty + QLatin1Char('x') << QLatin1Char('"') + forty + QStringLiteral("\u2026\"");
    QTest::newRow("a pair not split") << forty.left(39) + QStringLiteral("\U0001F600") + QLatin1Char('x')
                                      << QLatin1Char('"') + forty.left(39) + QStringLiteral("\u2026\"");
}

void TestStoredChoices::quotedTextIsCut()
{
    QFETCH(QString, text);
    QFETCH(QString, quoted);
    QCOMPARE(quotedForMessage(text), quoted);
}

QTEST_GUILESS_MAIN(TestStoredChoices)
#include "test_stored_choices.moc"
