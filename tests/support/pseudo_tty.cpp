#include "pseudo_tty.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <unistd.h>

Pty::Pty()
{
    char name[256] = {};
    if (::openpty(&m_master, &m_slave, name, nullptr, nullptr) != 0) {
        m_master = m_slave = -1;
        return;
    }
    ::fcntl(m_master, F_SETFL, ::fcntl(m_master, F_GETFL) | O_NONBLOCK);
    m_slavePath = QString::fromLocal8Bit(name);
}

Pty::~Pty()
{
    closeMaster();
    for (int fd : {m_writer, m_slave})
        if (fd >= 0)
            ::close(fd);
}

QByteArray Pty::read(int maxBytes, int quietMs)
{
    QByteArray got;
    if (m_master < 0)
        return got;
    QElapsedTimer quiet;
    quiet.start();
    char chunk[4096];
    while (got.size() < maxBytes && quiet.elapsed() < quietMs) {
        // The panel lives on this thread too: let it run while we wait.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN))
            continue;
        const auto wanted = std::min(sizeof chunk, static_cast<size_t>(maxBytes - got.size()));
        const ssize_t n = ::read(m_master, chunk, wanted);
        if (n > 0) {
            got.append(chunk, static_cast<qsizetype>(n));
            quiet.restart();
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    return got;
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

void Pty::drainInto(QByteArray &into)
{
    char chunk[4096];
    for (;;) {
        const ssize_t n = ::read(m_master, chunk, sizeof chunk);
        if (n > 0)
            into.append(chunk, static_cast<qsizetype>(n));
        else if (n < 0 && errno == EINTR)
            continue;
        else
            return;
    }
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

termios Pty::slaveSettings() const
{
    termios t{};
    ::tcgetattr(m_slave, &t);
    return t;
}

void Pty::closeMaster()
{
    if (m_master >= 0) {
        ::close(m_master);
        m_master = -1;
    }
}

bool pointLink(const QString &link, const QString &target)
{
    const QString fresh = link + QStringLiteral(".new");
    QFile::remove(fresh);
    return QFile::link(target, fresh)
        && std::rename(QFile::encodeName(fresh).constData(), QFile::encodeName(link).constData()) == 0;
}
