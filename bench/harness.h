#pragma once

#include <QJsonObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdint>
#include <vector>

class QWidget;

namespace queltor::bench {

std::int64_t wallNs(); // CLOCK_MONOTONIC
std::int64_t cpuNs();  // CLOCK_PROCESS_CPUTIME_ID

// One line's time on the wire: 5 bytes of 10 bits (8N1) at 9600 baud.
constexpr double kWireMicros = 5 * 10 * 1e6 / 9600.0;

// A pseudo-terminal in the device's place. The slave is held open here, so
// the master never sees a hang-up while the panel opens and closes it.
class Pty
{
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    int master() const { return m_master; }
    QString slavePath() const { return m_slavePath; }

    // A second handle on the slave, raw at 9600 8N1 as the serial adapter
    // leaves its own: the floor's writer.
    int rawWriter();

    // Reads exactly count bytes from the master, sleeping in poll() between
    // pieces; false when they do not all come within timeoutMs.
    bool readExactly(char *buffer, int count, int timeoutMs = 2000);
    // Whatever is waiting on the master, without waiting for more.
    QByteArray drain();

private:
    int m_master = -1;
    int m_slave = -1;
    int m_writer = -1;
    QString m_slavePath;
};

// A private settings home: QSettings in this process, and any child given
// environment(), read and write under it only.
class ConfigHome
{
public:
    ConfigHome();
    QString path() const { return m_dir.path(); }
    void set(const QString &key, const QString &value); // "Settings/ChNum", "Ports/COM1"
    // Points this process's QSettings here.
    void makeCurrent() const;

private:
    QTemporaryDir m_dir;
};

struct Summary
{
    int count = 0;
    double median = 0;
    double p99 = 0;
    double max = 0;
    double min = 0;
    double mean = 0;
    QJsonObject json() const;
};
Summary summarize(std::vector<double> values);

// Answers any message box the panel raises: a box means the measurement
// is void, and without an answer it would block the run for good.
class ModalGuard
{
public:
    ModalGuard();
    const QStringList &boxes() const { return m_boxes; }
    // Its own timer would be counted among the instructions it watches.
    void pause() { m_poll.stop(); }

private:
    QTimer m_poll;
    QStringList m_boxes;
};

// Busy-looping child processes that load the cores until this is destroyed.
class Spinners
{
public:
    explicit Spinners(int count);
    ~Spinners();
    Spinners(const Spinners &) = delete;
    Spinners &operator=(const Spinners &) = delete;

private:
    std::vector<int> m_pids;
};

// The load average now, as /proc/loadavg's first three fields.
QString loadAverage();

QWidget *findNamed(QWidget *root, const QString &name);

} // namespace queltor::bench
