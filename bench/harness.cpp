#include "harness.h"

#include <QFile>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <numeric>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace queltor::bench {

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
