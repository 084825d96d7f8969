// What a user is told when the serial device will not open. Root may open any
// device, so the port is opened by a helper running as nobody, with or without
// the dialout group, on a pseudo-terminal handed to root:dialout with mode 0660,
// the way Debian owns its serial devices (or to another group, as other systems
// do). Busy ports name their holder; a stale lock nobody may remove says so.
#include "lock_files.h"
#include "pseudo_tty.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
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
    gid_t m_uucp = 0;
    QString m_python;
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
    const group *uucp = ::getgrnam("uucp");
    QVERIFY2(uucp, "there is no group uucp");
    m_uucp = uucp->gr_gid;
    // The system's own: nobody may not reach a per-user one.
    m_python = QStandardPaths::findExecutable(QStringLiteral("python3"), {QStringLiteral("/usr/bin")});
    QVERIFY2(!m_python.isEmpty(), "there is no /usr/bin/python3");

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
    // "pty"; "uucp", a pty of group uucp; "held" open by this process, which
    // locks it; "exclusive", held with TIOCEXCL by a program of nobody's that
    // takes no lock file; "stale", locked by a program that has ended, in a
    // lock folder where nobody may not remove root's file; "missing".
    QTest::addColumn<QString>("device");
    QTest::addColumn<bool>("inDialout");
    QTest::addColumn<bool>("sent");
    QTest::addColumn<QStringList>("says"); // {path}, {pid}, {program} and {lock} are filled in
    QTest::addColumn<QStringList>("neverSays");

    const QString opened = QStringLiteral("COM1 ({path}) could not be opened: ");
    const QStringList advice{QStringLiteral("dialout"), QStringLiteral("sudo usermod -aG dialout $USER")};

    QTest::newRow("outside dialout") << "pty" << false << false << (QStringList{opened} + advice) << QStringList{};
    QTest::newRow("in dialout") << "pty" << true << true << QStringList{} << QStringList{};
    QTest::newRow("outside the device's own group")
        << "uucp" << true << false << QStringList{opened, QStringLiteral("sudo usermod -aG uucp $USER")} << advice;
    // Allowed, but the port is busy: group advice would send the user the wrong way.
    QTest::newRow("in dialout, port busy")
        << "held" << true << false << QStringList{opened, QStringLiteral("in use by {program} (PID {pid})")} << advice;
    QTest::newRow("in dialout, held without a lock file")
        << "exclusive" << true << false << QStringList{opened, QStringLiteral("in use by python3 (PID {pid})")}
        << advice;
    QTest::newRow("in dialout, stale lock")
        << "stale" << true << false
        << QStringList{opened,
                       QStringLiteral("the lock file {lock}, left behind by a program that has ended (PID "
                                      "{pid}), is in the way and cannot be removed")}
        << advice;
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
        QVERIFY(::chown(native.constData(), 0, device == QLatin1String("uucp") ? m_uucp : m_dialout) == 0);
        QVERIFY(::chmod(native.constData(), 0660) == 0);
    }
    const QString lock = queltor::lockFileOf(path);
    // The pty is new: a lock file under its name is a killed program's, and
    // would stand in the way of every row.
    QFile::remove(lock);
    const QStringList asNobody{QStringLiteral("--reuid=%1").arg(m_nobody),
                               QStringLiteral("--regid=%1").arg(m_nobodyGroup)};
    qint64 pid = 0;
    QString program;

    QSerialPort holder(path);
    if (device == QLatin1String("held")) {
        QVERIFY2(holder.open(QIODevice::WriteOnly), qPrintable(holder.errorString()));
        pid = QCoreApplication::applicationPid();
        program = QFileInfo(QCoreApplication::arguments().constFirst()).fileName();
    }
    QProcess exclusive;
    const auto endExclusive = qScopeGuard([&exclusive] {
        exclusive.kill();
        exclusive.waitForFinished();
    });
    if (device == QLatin1String("exclusive")) {
        const QString script = QStringLiteral("import fcntl, os, sys, termios, time\n"
                                              "fd = os.open(sys.argv[1], os.O_RDWR | os.O_NOCTTY)\n"
                                              "fcntl.ioctl(fd, termios.TIOCEXCL)\n"
                                              "print('ready', flush=True)\n"
                                              "time.sleep(60)\n");
        exclusive.start(m_setpriv,
                        asNobody
                            + QStringList{QStringLiteral("--groups=%1").arg(m_dialout), m_python, QStringLiteral("-c"),
                                          script, path});
        QVERIFY(exclusive.waitForReadyRead(20000));
        QCOMPARE(exclusive.readLine().trimmed(), QByteArray("ready"));
        pid = exclusive.processId();
    }
    const auto removeLock = qScopeGuard([&] {
        if (device == QLatin1String("stale"))
            QFile::remove(lock);
    });
    if (device == QLatin1String("stale")) {
        QProcess ended;
        ended.start(QStringLiteral("true"), {});
        QVERIFY(ended.waitForStarted());
        pid = ended.processId();
        QVERIFY(ended.waitForFinished());
        QFile file(lock);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(QByteArray::number(pid) + "\nqueltor\n");
    }

    const QString groups = inDialout ? QStringLiteral("--groups=%1").arg(m_dialout) : QStringLiteral("--clear-groups");
    QProcess helper;
    helper.start(m_setpriv, asNobody + QStringList{groups, m_helper, path});
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
    const auto filled = [&](QString part) {
        return part.replace(QStringLiteral("{path}"), path)
            .replace(QStringLiteral("{pid}"), QString::number(pid))
            .replace(QStringLiteral("{program}"), program)
            .replace(QStringLiteral("{lock}"), QFileInfo(lock).canonicalFilePath());
    };
    for (const QString &part : says)
        QVERIFY2(output.contains(filled(part)),
                 qPrintable(QStringLiteral("\"%1\" lacks \"%2\"").arg(output, filled(part))));
    for (const QString &part : neverSays)
        QVERIFY2(!output.contains(part), qPrintable(QStringLiteral("\"%1\" says \"%2\"").arg(output, part)));
    QCOMPARE(pty.readAll(), QByteArray());
}

QTEST_GUILESS_MAIN(TestPortPermission)
#include "test_port_permission.moc"
