#include "link/exit_signals.h"

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <unistd.h>

namespace queltor {

namespace {

// The pipe's writing end, for the handler; -1 while there is none.
volatile sig_atomic_t g_writeEnd = -1;

extern "C" void noteSignal(int signal)
{
    // Only async-signal-safe calls here: write() and errno.
    const int saved = errno;
    const int fd = g_writeEnd;
    if (fd >= 0) {
        const char number = static_cast<char>(signal);
        [[maybe_unused]] const ssize_t written = ::write(fd, &number, 1);
    }
    errno = saved;
}

} // namespace

void ignoreBrokenPipes() { std::signal(SIGPIPE, SIG_IGN); }

ExitSignals::ExitSignals(QObject *parent)
    : QObject(parent)
{
    if (::pipe2(m_pipe, O_CLOEXEC | O_NONBLOCK) != 0) {
        m_pipe[0] = m_pipe[1] = -1;
        return; // the signals keep their default handling: the program still ends
    }
    m_notifier = new QSocketNotifier(m_pipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &ExitSignals::readPipe);
    g_writeEnd = m_pipe[1];

    struct sigaction action
    { };
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(kHandled); ++i) {
        ::sigaction(kHandled[i], nullptr, &m_before[i]);
        // One started with a signal ignored (nohup, a background job) keeps ignoring it.
        if (m_before[i].sa_handler != SIG_IGN)
            ::sigaction(kHandled[i], &action, nullptr);
    }
}

ExitSignals::~ExitSignals()
{
    if (m_notifier) {
        for (std::size_t i = 0; i < std::size(kHandled); ++i)
            ::sigaction(kHandled[i], &m_before[i], nullptr);
    }
    g_writeEnd = -1;
    for (int fd : m_pipe)
        if (fd >= 0)
            ::close(fd);
}

void ExitSignals::readPipe()
{
    char numbers[16];
    ssize_t n = 0;
    while ((n = ::read(m_pipe[0], numbers, sizeof numbers)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
            ++m_count;
            emit received(numbers[i]);
        }
    }
}

} // namespace queltor
