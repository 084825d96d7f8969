#pragma once

#include <QObject>

#include <signal.h>

class QSocketNotifier;

namespace queltor {

// A write to a closed pipe or socket (standard output piped into a program that
// has ended, a client that went away) fails with EPIPE instead of ending the
// program without its clean-up. Called first thing by every program we ship.
void ignoreBrokenPipes();

// SIGTERM, SIGINT and SIGHUP (logout, shutdown, kill, Ctrl+C) as an event of
// the event loop: the handler only writes the signal's number to a pipe that
// the loop watches, and received() is emitted from there, so the program ends
// the way it always does, port closed and all. A signal the program was
// started ignoring stays ignored. One at a time; its destructor puts the
// earlier handling back.
class ExitSignals : public QObject
{
    Q_OBJECT
public:
    explicit ExitSignals(QObject *parent = nullptr);
    ~ExitSignals() override;

    ExitSignals(const ExitSignals &) = delete;
    ExitSignals &operator=(const ExitSignals &) = delete;

    // How many have been received so far.
    int count() const { return m_count; }

signals:
    void received(int signal);

private:
    void readPipe();

    static constexpr int kHandled[] = {SIGTERM, SIGINT, SIGHUP};

    int m_pipe[2] = {-1, -1};
    struct sigaction m_before[3] = {};
    QSocketNotifier *m_notifier = nullptr;
    int m_count = 0;
};

} // namespace queltor
