#pragma once

// What the figures share beyond the test kit, whose pty, settings home,
// message catcher and clocks they use.
#include "clocks.h"

#include <QJsonObject>
#include <QString>

#include <vector>

class QWidget;

namespace queltor::bench {

// One line's time on the wire: 5 bytes of 10 bits (8N1) at 9600 baud.
constexpr double kWireMicros = 5 * 10 * 1e6 / 9600.0;

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
