#include "harness.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QSettings>
#include <QWidget>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <numeric>
#include <poll.h>
#include <pty.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace queltor::bench {

namespace {

std::int64_t clockNs(clockid_t clock)
{
    timespec ts{};
    ::clock_gettime(clock, &ts);
    return std::int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

} // namespace

std::int64_t wallNs() { return clockNs(CLOCK_MONOTONIC); }

std::int64_t cpuNs() { return clockNs(CLOCK_PROCESS_CPUTIME_ID); }

Pty::Pty()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0)
        qFatal("openpty failed: %s", strerror(errno));
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
}

Pty::~Pty()
{
    for (int fd : {m_writer, m_slave, m_master})
        if (fd >= 0)
            ::close(fd);
}

int Pty::rawWriter()
{
    if (m_writer >= 0)
        return m_writer;
    m_writer = ::open(QFile::encodeName(m_slavePath).constData(), O_WRONLY | O_NOCTTY);
    if (m_writer < 0)
        qFatal("cannot open %s: %s", qPrintable(m_slavePath), strerror(errno));
    termios tio{};
    ::tcgetattr(m_writer, &tio);
    ::cfmakeraw(&tio);
    ::cfsetispeed(&tio, B9600);
    ::cfsetospeed(&tio, B9600);
    tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | CSTOPB | CRTSCTS)) | CS8 | CLOCAL | CREAD;
    ::tcsetattr(m_writer, TCSANOW, &tio);
    return m_writer;
}

bool Pty::readExactly(char *buffer, int count, int timeoutMs)
{
    int got = 0;
    while (got < count) {
        const ssize_t n = ::read(m_master, buffer + got, static_cast<size_t>(count - got));
        if (n > 0) {
            got += static_cast<int>(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return false;
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, timeoutMs) == 0)
            return false;
    }
    return true;
}

QByteArray Pty::drain()
{
    QByteArray all;
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n <= 0)
            break;
        all.append(chunk, static_cast<int>(n));
    }
    return all;
}

ConfigHome::ConfigHome()
{
    if (!m_dir.isValid())
        qFatal("cannot make a temporary settings home");
}

void ConfigHome::set(const QString &key, const QString &value)
{
    QSettings file(path() + QStringLiteral("/QUELTOR/QUELTOR.conf"), QSettings::IniFormat);
    file.setValue(key, value);
    file.sync();
}

void ConfigHome::makeCurrent() const
{
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(path()));
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, path());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, path());
}

QJsonObject Summary::json() const
{
    return QJsonObject{{QStringLiteral("count"), count}, {QStringLiteral("median"), median},
                       {QStringLiteral("p99"), p99},     {QStringLiteral("max"), max},
                       {QStringLiteral("min"), min},     {QStringLiteral("mean"), mean}};
}

Summary summarize(std::vector<double> values)
{
    Summary s;
    if (values.empty())
        return s;
    std::sort(values.begin(), values.end());
    const std::size_t n = values.size();
    s.count = static_cast<int>(n);
    s.median = n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2;
    // Nearest rank: the smallest value that at least 99% of the samples do not exceed.
    s.p99 = values[static_cast<std::size_t>(std::ceil(0.99 * double(n))) - 1];
    s.max = values.back();
    s.min = values.front();
    s.mean = std::accumulate(values.begin(), values.end(), 0.0) / double(n);
    return s;
}

ModalGuard::ModalGuard()
{
    m_poll.setInterval(500);
    QObject::connect(&m_poll, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        const auto *box = qobject_cast<QMessageBox *>(modal);
        m_boxes << (box ? box->text() : modal->windowTitle());
        qWarning("queltor_bench: the panel showed a message: %s", qPrintable(m_boxes.last()));
        modal->close();
    });
    m_poll.start();
}

Spinners::Spinners(int count)
{
    for (int i = 0; i < count; ++i) {
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            for (volatile unsigned long spin = 0;; spin = spin + 1) {
            }
        }
        if (pid > 0)
            m_pids.push_back(pid);
    }
    ::usleep(200000); // let the scheduler see them as the hogs they are
}

Spinners::~Spinners()
{
    for (int pid : m_pids)
        ::kill(pid, SIGKILL);
    for (int pid : m_pids)
        ::waitpid(pid, nullptr, 0);
}

QString loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QList<QByteArray> fields = file.readAll().split(' ');
    return fields.size() >= 3 ? QString::fromLatin1(fields[0] + ' ' + fields[1] + ' ' + fields[2]) : QString();
}

QWidget *findNamed(QWidget *root, const QString &name)
{
    QWidget *found = root->findChild<QWidget *>(name);
    if (!found)
        qFatal("the window has no control named %s", qPrintable(name));
    return found;
}

} // namespace queltor::bench
