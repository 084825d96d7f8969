#include "link/link_error.h"
#include "link/settings_store.h"

#include "temp_config.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QtTest>

using namespace queltor;

namespace {

QByteArray fileBytes(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool putFile(const QString &path, const QByteArray &bytes)
{
    if (!QDir().mkpath(QFileInfo(path).path()))
        return false;
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

} // namespace

class TestSettingsStore : public QObject
{
    Q_OBJECT

private slots:
    void absentKeysReadDefault_data();
    void absentKeysReadDefault();
    void storedTextReadsBack_data();
    void storedTextReadsBack();
    void writeReachesTheFile_data();
    void writeReachesTheFile();
    void writeFailureNamesTheFile_data();
    void writeFailureNamesTheFile();
    void damagedFileReadsDefaults_data();
    void damagedFileReadsDefaults();
    void writeRepairsGarbledFile_data();
    void writeRepairsGarbledFile();
};

void TestSettingsStore::absentKeysReadDefault_data()
{
    QTest::addColumn<QByteArray>("fileContents"); // empty: no file at all
    QTest::addColumn<QString>("key");

    QTest::newRow("first run, ChNum") << QByteArray() << SettingsStore::kChNum;
    QTest::newRow("first run, ComPort") << QByteArray() << SettingsStore::kComPort;
    QTest::newRow("other key set") << QByteArray("[Settings]\nChNum=3\n") << SettingsStore::kComPort;
    QTest::newRow("same key, other group") << QByteArray("[Ports]\nChNum=3\n") << SettingsStore::kChNum;
}

void TestSettingsStore::absentKeysReadDefault()
{
    QFETCH(QByteArray, fileContents);
    QFETCH(QString, key);
    TempConfig config;
    if (!fileContents.isEmpty())
        QVERIFY(putFile(config.fileName(), fileContents));

    const SettingsStore store;
    QCOMPARE(store.read(key), QStringLiteral("1"));
    QCOMPARE(store.read(key, QStringLiteral("7")), QStringLiteral("7"));
}

void TestSettingsStore::storedTextReadsBack_data()
{
    QTest::addColumn<QByteArray>("fileContents");
    QTest::addColumn<QString>("expected");

    QTest::newRow("plain") << QByteArray("[Settings]\nChNum=4\n") << QStringLiteral("4");
    QTest::newRow("not a number stays text") << QByteArray("[Settings]\nChNum=four\n") << QStringLiteral("four");
    QTest::newRow("empty is not absent") << QByteArray("[Settings]\nChNum=\n") << QString();
    QTest::newRow("comma kept whole") << QByteArray("[Settings]\nChNum=1, 2\n") << QStringLiteral("1, 2");
}

void TestSettingsStore::storedTextReadsBack()
{
    QFETCH(QByteArray, fileContents);
    QFETCH(QString, expected);
    TempConfig config;
    QVERIFY(putFile(config.fileName(), fileContents));

    const SettingsStore store;
    QCOMPARE(store.read(SettingsStore::kChNum), expected);
}

void TestSettingsStore::writeReachesTheFile_data()
{
    QTest::addColumn<QString>("key");
    QTest::addColumn<QStringList>("writes"); // in order; the last one must stick

    QTest::newRow("ChNum") << SettingsStore::kChNum << QStringList{QStringLiteral("4")};
    QTest::newRow("ComPort") << SettingsStore::kComPort << QStringList{QStringLiteral("2")};
    QTest::newRow("zero") << SettingsStore::kChNum << QStringList{QStringLiteral("0")};
    QTest::newRow("replaced") << SettingsStore::kChNum
                              << QStringList{QStringLiteral("9"), QStringLiteral("1"), QStringLiteral("3")};
}

void TestSettingsStore::writeReachesTheFile()
{
    QFETCH(QString, key);
    QFETCH(QStringList, writes);
    TempConfig config;
    const QString text = writes.last();

    {
        SettingsStore store;
        for (const QString &w : std::as_const(writes))
            store.write(key, w);
        QCOMPARE(store.read(key), text);
        QCOMPARE(store.fileName(), config.fileName());
    }

    // On disk at once, as text another program can read.
    const QByteArray raw = fileBytes(config.fileName());
    QVERIFY2(raw.contains("[Settings]"), raw.constData());
    QVERIFY2(raw.contains(key.toLatin1() + '=' + text.toLatin1() + '\n'), raw.constData());
    QCOMPARE(config.value(QStringLiteral("Settings"), key), text);

    // The next run sees it.
    const SettingsStore nextRun;
    QCOMPARE(nextRun.read(key), text);
}

void TestSettingsStore::writeFailureNamesTheFile_data()
{
    QTest::addColumn<QString>("blocker"); // what sits where the store must write

    // Both stop root as well; a read-only mode bit would not.
    QTest::newRow("directory in place of the file") << QStringLiteral("file-is-dir");
    QTest::newRow("file in place of the directory") << QStringLiteral("dir-is-file");
}

void TestSettingsStore::writeFailureNamesTheFile()
{
    QFETCH(QString, blocker);
    TempConfig config;
    if (blocker == QLatin1String("file-is-dir"))
        QVERIFY(QDir().mkpath(config.fileName()));
    else
        QVERIFY(putFile(config.path() + QStringLiteral("/QUELTOR"), "x"));

    SettingsStore store;
    QCOMPARE(store.read(SettingsStore::kChNum), QStringLiteral("1"));
    try {
        store.write(SettingsStore::kChNum, QStringLiteral("4"));
        QFAIL("write went through with nowhere to write");
    } catch (const LinkError &e) {
        QCOMPARE(e.message(),
                 QStringLiteral("The setting ChNum could not be saved to %1: "
                                "the file cannot be written.")
                     .arg(config.fileName()));
        QCOMPARE(QString::fromUtf8(e.what()), e.message());
    }

    // Once the way is clear the next write goes through: the failure does not stick.
    if (blocker == QLatin1String("file-is-dir"))
        QVERIFY(QDir().rmdir(config.fileName()));
    else
        QVERIFY(QFile::remove(config.path() + QStringLiteral("/QUELTOR")));
    store.write(SettingsStore::kChNum, QStringLiteral("6"));
    QCOMPARE(config.value(QStringLiteral("Settings"), SettingsStore::kChNum), QStringLiteral("6"));
}

void TestSettingsStore::damagedFileReadsDefaults_data()
{
    QTest::addColumn<QByteArray>("fileContents");
    QTest::addColumn<bool>("asDirectory");

    QByteArray noise(4096, '\0');
    QRandomGenerator random(20240611);
    for (char &c : noise)
        c = static_cast<char>(random.bounded(256));
    QTest::newRow("random bytes") << noise << false;
    QTest::newRow("unclosed quote") << QByteArray("[Settings]\n\"ChNum=4\nComPort=2\n") << false;
    QTest::newRow("NULs only") << QByteArray(512, '\0') << false;
    QTest::newRow("unreadable: a directory") << QByteArray() << true;
}

void TestSettingsStore::damagedFileReadsDefaults()
{
    QFETCH(QByteArray, fileContents);
    QFETCH(bool, asDirectory);
    TempConfig config;
    if (asDirectory)
        QVERIFY(QDir().mkpath(config.fileName()));
    else
        QVERIFY(putFile(config.fileName(), fileContents));

    const SettingsStore store;
    QCOMPARE(store.read(SettingsStore::kChNum), QStringLiteral("1"));
    QCOMPARE(store.read(SettingsStore::kComPort), QStringLiteral("1"));
    QCOMPARE(store.portDevice(1), SettingsStore::defaultPortDevice(1));
}

void TestSettingsStore::writeRepairsGarbledFile_data()
{
    QTest::addColumn<bool>("garbledWhileRunning");

    QTest::newRow("garbled before start") << false;
    QTest::newRow("garbled by another program while running") << true;
}

void TestSettingsStore::writeRepairsGarbledFile()
{
    // The parse error of the old contents must not be taken for a failed write.
    QFETCH(bool, garbledWhileRunning);
    TempConfig config;
    const QByteArray garbage("[Settings\n\x01\x02garbage=\n[");
    if (!garbledWhileRunning)
        QVERIFY(putFile(config.fileName(), garbage));

    SettingsStore store;
    if (garbledWhileRunning) {
        store.write(SettingsStore::kChNum, QStringLiteral("5"));
        QVERIFY(putFile(config.fileName(), garbage));
    }
    store.write(SettingsStore::kComPort, QStringLiteral("2"));
    QCOMPARE(store.read(SettingsStore::kComPort), QStringLiteral("2"));
    QCOMPARE(config.value(QStringLiteral("Settings"), SettingsStore::kComPort), QStringLiteral("2"));
    QVERIFY(fileBytes(config.fileName()).contains("ComPort=2\n"));
}

QTEST_GUILESS_MAIN(TestSettingsStore)
#include "test_settings_store.moc"
