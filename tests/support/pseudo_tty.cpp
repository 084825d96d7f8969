#include "pseudo_tty.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cerrno>
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
    if (m_slave >= 0)
        ::close(m_slave);
}

QByteArray Pty::read(int maxBytes, int quietMs)
{
    QByteArray got;
    if (m_master < 0)
        return got;
    QElapsedTimer quiet;
    quiet.start();
    while (got.size() < maxBytes && quiet.elapsed() < quietMs) {
        // The panel lives on this thread too: let it run while we wait.
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        pollfd p{m_master, POLLIN, 0};
        if (::poll(&p, 1, 5) <= 0 || !(p.revents & POLLIN))
            continue;
        char c = 0;
        const ssize_t n = ::read(m_master, &c, 1);
        if (n == 1) {
            got.append(c);
            quiet.restart();
        } else if (n < 0 && errno != EAGAIN && errno != EINTR) {
            break;
        }
    }
    return got;
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
