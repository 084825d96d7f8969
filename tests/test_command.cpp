// The command line a channel is sent as, and its two-digit display text.
#include "channel/command.h"

#include <QSet>
#include <QtTest>

using namespace queltor;

class TestCommand : public QObject
{
    Q_OBJECT
private slots:
    void commandIsFiveBytes_data();
    void commandIsFiveBytes();
    void everyChannelHasItsOwnWellFormedCommand();
};

void TestCommand::commandIsFiveBytes_data()
{
    QTest::addColumn<int>("channel");
    QTest::addColumn<QByteArray>("bytes");
    QTest::addColumn<QString>("display");
    QTest::newRow("0") << 0 << QByteArray("V00\r\n") << "00";
    QTest::newRow("7") << 7 << QByteArray("V07\r\n") << "07";
    QTest::newRow("9") << 9 << QByteArray("V09\r\n") << "09";
    QTest::newRow("10") << 10 << QByteArray("V10\r\n") << "10";
    QTest::newRow("42") << 42 << QByteArray("V42\r\n") << "42";
    QTest::newRow("99") << 99 << QByteArray("V99\r\n") << "99";
}

void TestCommand::commandIsFiveBytes()
{
    QFETCH(int, channel);
    QFETCH(QByteArray, bytes);
    QFETCH(QString, display);
    QCOMPARE(channelCommand(channel), bytes);
    QCOMPARE(channelDisplayText(channel), display);
}

void TestCommand::everyChannelHasItsOwnWellFormedCommand()
{
    QSet<QByteArray> seen;
    for (int ch = kFirstChannel; ch <= kLastChannel; ++ch) {
        const QByteArray cmd = channelCommand(ch);
        QCOMPARE(cmd.size(), 5);
        QCOMPARE(cmd.at(0), 'V');
        QCOMPARE((cmd.at(1) - '0') * 10 + (cmd.at(2) - '0'), ch);
        QCOMPARE(cmd.mid(3), QByteArray("\r\n"));
        QCOMPARE(channelDisplayText(ch).toLatin1(), cmd.mid(1, 2));
        seen.insert(cmd);
    }
    QCOMPARE(seen.size(), 100);
    QVERIFY(!isChannel(-1));
    QVERIFY(!isChannel(100));
}

QTEST_APPLESS_MAIN(TestCommand)
#include "test_command.moc"
