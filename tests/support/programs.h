#pragma once

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>

#include <csignal>

// The project's real programs, run as a user runs them. Users define
// QUELTOR_PANEL and QUELTOR_CTL as the binaries' paths.

struct Run
{
    int status = -1; // -1: it did not end by itself in time
    QByteArray out;
    QByteArray err;
};

inline Run run(const QString &program, const QStringList &args, int timeoutMs = 20000)
{
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        return {};
    }
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
            process.readAllStandardError()};
}

inline Run ctl(const QStringList &args) { return run(QStringLiteral(QUELTOR_CTL), args); }

// The panel binary, as a user starts it, on the offscreen platform.
class PanelProcess
{
public:
    explicit PanelProcess(const QStringList &args = {})
    {
        m_process.start(QStringLiteral(QUELTOR_PANEL), args);
        m_process.waitForStarted();
    }
    ~PanelProcess() { terminate(); }
    PanelProcess(const PanelProcess &) = delete;
    PanelProcess &operator=(const PanelProcess &) = delete;

    // Ended as a user would end it, so it takes its port lock with it.
    void terminate()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.terminate();
            if (!m_process.waitForFinished(5000))
                m_process.kill();
            m_process.waitForFinished();
        }
    }
    // Until queltor-ctl reaches it, with these options.
    bool serving(const QStringList &options = {})
    {
        const QDeadlineTimer deadline(20000);
        while (!deadline.hasExpired() && running()) {
            if (ctl(options + QStringList{QStringLiteral("status")}).status == 0)
                return true;
            QThread::msleep(50);
        }
        return false;
    }
    bool running() const { return m_process.state() == QProcess::Running; }
    void signal(int number) { ::kill(static_cast<pid_t>(m_process.processId()), number); }
    void kill()
    {
        signal(SIGKILL);
        m_process.waitForFinished();
    }

private:
    QProcess m_process;
};
