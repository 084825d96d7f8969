// What a user is told when the serial device will not open. Root may open any
// device, so the port is opened by a helper running as nobody, with or without
// the dialout group, on a pseudo-terminal handed to root:dialout with mode 0660,
// the way Debian owns its serial devices.
#include "pseudo_tty.h"

#include <QFile>
#include <QProcess>
#include <QSerialPort>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

class TestPortPermission : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void message_data();
    void message();

private:
    QTemporaryDir m_scratch;
    QString m_helper;
    QString m_setpriv;
    uid_t m_nobody = 0;
    gid_t m_nobodyGroup = 0;
    gid_t m_dialout = 0;
};

void TestPortPermission::initTestCase()
{
    if (::geteuid() != 0)
        QSKIP("needs root, to give the device to root:dialout and run the helper as nobody");

    m_setpriv = QStandardPaths::findExecutable(QStringLiteral("setpriv"));
    QVERIFY2(!m_setpriv.isEmpty(), "setpriv (util-linux) is not installed");
    const passwd *nobody = ::getpwnam("nobody");
    QVERIFY2(nobody, "there is no user nobody");
    m_nobody = nobody->pw_uid;
    m_nobodyGroup = nobody->pw_gid;
    const group *dialout = ::getgrnam("dialout");
    QVERIFY2(dialout, "there is no group dialout");
    m_dialout = dialout->gr_gid;

    // The build tree may sit where nobody cannot reach (/root in CI).
    QVERIFY(m_scratch.isValid());
    QVERIFY(QFile::setPermissions(m_scratch.path(),
                                  QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther
                                      | QFile::ExeOther));
    m_helper = m_scratch.filePath(QStringLiteral("queltor_open_port"));
    QVERIFY(QFile::copy(QStringLiteral(QUELTOR_OPEN_PORT), m_helper));
    QVERIFY(QFile::setPermissions(m_helper, QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther));
}

void TestPortPermission::message_data()
{
    QTest::addColumn<QString>("device"); // "pty", "held" (open in another program), "missing"
    QTest::addColumn<bool>("inDialout");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QStringList>("says"); // %1 is the device path
    QTest::addColumn<QStringList>("neverSays");

    const QString opened = QStringLiteral("COM1 (%1) could not be opened: ");
    const QStringList advice{QStringLiteral("dialout"), QStringLiteral("sudo usermod -aG dialout $USER")};

    QTest::newRow("outside dialout") << "pty" << false << false << (QStringList{opened} + advice) << QStringList{};
    QTest::newRow("in dialout") << "pty" << true << true << QStringList{} << QStringList{};
    // Allowed, but the port is busy: group advice would send the user the wrong way.
    QTest::newRow("in dialout, port busy")
        << "held" << true << false << QStringList{opened, QStringLiteral("in use by another program")} << advice;
    QTest::newRow("missing device") << "missing" << false << false
                                    << QStringList{opened, QStringLiteral("does not exist")} << advice;
}

void TestPortPermission::message()
{
    QFETCH(QString, device);
    QFETCH(bool, inDialout);
    QFETCH(bool, sent);
    QFETCH(QStringList, says);
    QFETCH(QStringList, neverSays);

    Pty pty;
    QVERIFY(pty.isValid());
    QString path = pty.slavePath();
    if (device == QLatin1String("missing")) {
        path = m_scratch.filePath(QStringLiteral("ttyS9"));
    } else {
        const QByteArray native = QFile::encodeName(path);
        QVERIFY(::chown(native.constData(), 0, m_dialout) == 0);
        QVERIFY(::chmod(native.constData(), 0660) == 0);
    }

    QSerialPort holder(path);
    if (device == QLatin1String("held"))
        QVERIFY2(holder.open(QIODevice::WriteOnly), qPrintable(holder.errorString()));

    const QString groups = inDialout ? QStringLiteral("--groups=%1").arg(m_dialout) : QStringLiteral("--clear-groups");
    QProcess helper;
    helper.start(m_setpriv,
                 {QStringLiteral("--reuid=%1").arg(m_nobody), QStringLiteral("--regid=%1").arg(m_nobodyGroup), groups,
                  m_helper, path});
    QVERIFY2(helper.waitForFinished(20000), "the helper did not finish");
    const QString output = QString::fromLocal8Bit(helper.readAllStandardOutput()).trimmed();
    const QString errors = QString::fromLocal8Bit(helper.readAllStandardError());
    QVERIFY2(helper.exitStatus() == QProcess::NormalExit, qPrintable(errors));
    QVERIFY2(helper.exitCode() == (sent ? 0 : 1), qPrintable(output + QLatin1Char('\n') + errors));

    if (sent) {
        QCOMPARE(output, QStringLiteral("sent"));
        QCOMPARE(pty.read(5), QByteArray("V07\r\n"));
        return;
    }
    for (const QString &part : says)
        QVERIFY2(output.contains(part.contains(QLatin1String("%1")) ? part.arg(path) : part),
                 qPrintable(QStringLiteral("\"%1\" lacks \"%2\"").arg(output, part)));
    for (const QString &part : neverSays)
        QVERIFY2(!output.contains(part), qPrintable(QStringLiteral("\"%1\" says \"%2\"").arg(output, part)));
    QCOMPARE(pty.readAll(), QByteArray());
}

QTEST_GUILESS_MAIN(TestPortPermission)
#include "test_port_permission.moc"
