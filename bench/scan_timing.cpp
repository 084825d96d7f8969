// Figure 2: when each scan tick's command reaches the device, against the
// ideal schedule start + n x term, idle and with the cores kept busy. The
// floor is a loop that sleeps to the same absolute schedule and write(2)s.
#include "figures.h"
#include "panel_fixture.h"

#include "channel/command.h"

#include <QEventLoop>
#include <QLineEdit>

#include <atomic>
#include <ctime>
#include <functional>
#include <poll.h>
#include <thread>
#include <unistd.h>

namespace queltor::bench {

namespace {

// Reads the master on its own thread and stamps each complete command.
class ArrivalRecorder
{
public:
    ArrivalRecorder(int master, int ticks, std::function<void()> onDone)
        : m_master(master)
        , m_ticks(ticks)
        , m_onDone(std::move(onDone))
    {
        m_arrivals.reserve(std::size_t(ticks));
        m_thread = std::thread([this] { run(); });
    }
    ~ArrivalRecorder() { finish(); }
    ArrivalRecorder(const ArrivalRecorder &) = delete;
    ArrivalRecorder &operator=(const ArrivalRecorder &) = delete;

    void finish()
    {
        m_stop = true;
        if (m_thread.joinable())
            m_thread.join();
    }
    bool done() const { return m_done; }
    const std::vector<std::int64_t> &arrivals() const { return m_arrivals; }
    const QByteArray &bytes() const { return m_bytes; }

private:
    void run()
    {
        int pending = 0;
        while (!m_stop && int(m_arrivals.size()) < m_ticks) {
            pollfd p{m_master, POLLIN, 0};
            if (::poll(&p, 1, 20) <= 0)
                continue;
            const std::int64_t at = wallNs();
            char chunk[256];
            const ssize_t n = ::read(m_master, chunk, sizeof chunk);
            if (n <= 0)
                continue;
            m_bytes.append(chunk, int(n));
            pending += int(n);
            for (; pending >= 5 && int(m_arrivals.size()) < m_ticks; pending -= 5)
                m_arrivals.push_back(at);
        }
        m_done = true;
        if (m_onDone)
            m_onDone();
    }

    int m_master;
    int m_ticks;
    std::function<void()> m_onDone;
    std::vector<std::int64_t> m_arrivals;
    QByteArray m_bytes;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_done{false};
    std::thread m_thread;
};

struct Ticks
{
    std::int64_t start = 0;
    std::vector<std::int64_t> arrivals;
    QByteArray bytes;
};

QByteArray expectedBytes(int ticks, int channels)
{
    QByteArray all;
    for (int n = 0; n < ticks; ++n)
        all += channelCommand(n % channels);
    return all;
}

Ticks windowScan(BenchPanel &panel, double termSeconds, int ticks)
{
    auto *term = qobject_cast<QLineEdit *>(findNamed(panel.window.get(), QStringLiteral("txtTerm")));
    QAbstractButton *startStop = panel.child<QAbstractButton>(QStringLiteral("cmdAuto"));
    term->setText(QString::number(termSeconds));
    panel.com1.drain();

    QEventLoop loop;
    ArrivalRecorder recorder(panel.com1.masterFd(), ticks,
                             [&loop] { QMetaObject::invokeMethod(&loop, &QEventLoop::quit, Qt::QueuedConnection); });
    Ticks result;
    // The scan starts when the button is released, as the operator's click completes.
    QTest::mousePress(startStop, Qt::LeftButton);
    result.start = wallNs();
    QTest::mouseRelease(startStop, Qt::LeftButton);
    if (startStop->text() != QStringLiteral("Stop Scan"))
        qFatal("the scan did not start at term %g", termSeconds);
    QTimer::singleShot(int(termSeconds * 1000 * ticks) + 5000, &loop, &QEventLoop::quit);
    if (!recorder.done())
        loop.exec();
    QTest::mouseClick(startStop, Qt::LeftButton);
    recorder.finish();
    result.arrivals = recorder.arrivals();
    result.bytes = recorder.bytes() + panel.com1.drain();
    return result;
}

Ticks floorScan(Pty &pty, double termSeconds, int ticks, int channels)
{
    const int writer = pty.rawWriter();
    pty.drain();
    ArrivalRecorder recorder(pty.masterFd(), ticks, {});
    Ticks result;
    result.start = wallNs();
    const auto termNs = std::int64_t(termSeconds * 1e9 + 0.5);
    for (int n = 1; n <= ticks; ++n) {
        const std::int64_t due = result.start + n * termNs;
        const timespec at{time_t(due / 1000000000), long(due % 1000000000)};
        while (::clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &at, nullptr) != 0) {
        }
        const QByteArray command = channelCommand((n - 1) % channels);
        if (::write(writer, command.constData(), 5) != 5)
            qFatal("the floor's write failed");
    }
    // The last command needs a moment to be read.
    const std::int64_t giveUp = wallNs() + 2000000000;
    while (!recorder.done() && wallNs() < giveUp)
        ::usleep(1000);
    recorder.finish();
    result.arrivals = recorder.arrivals();
    result.bytes = recorder.bytes() + pty.drain();
    return result;
}

struct Timing
{
    Summary error;         // µs late against start + n x term
    double lastDrift = 0;  // µs, at the last tick
    double firstTenth = 0; // mean error over the first 10% of ticks, µs
    double lastTenth = 0;  // and over the last 10%
    double slope = 0;      // least-squares growth of the error, µs per tick
    int rebased = 0;       // times the schedule moved later for good
    int missing = 0;
    bool bytesRight = false;
    std::vector<double> series;

    QJsonObject json() const
    {
        return QJsonObject{{QStringLiteral("error_us"), error.json()},
                           {QStringLiteral("last_tick_drift_us"), lastDrift},
                           {QStringLiteral("mean_error_first_tenth_us"), firstTenth},
                           {QStringLiteral("mean_error_last_tenth_us"), lastTenth},
                           {QStringLiteral("error_slope_us_per_tick"), slope},
                           {QStringLiteral("schedule_rebased"), rebased},
                           {QStringLiteral("missing_ticks"), missing},
                           {QStringLiteral("commands_in_order"), bytesRight},
                           {QStringLiteral("per_tick_error_us"), roundedSeries()}};
    }

    QJsonArray roundedSeries() const
    {
        QJsonArray a;
        for (double e : series)
            a << qRound(e);
        return a;
    }
};

Timing analyse(const Ticks &ticks, double termSeconds, int expectedTicks, int channels)
{
    Timing t;
    const double termUs = termSeconds * 1e6;
    std::vector<double> errors;
    for (std::size_t i = 0; i < ticks.arrivals.size(); ++i)
        errors.push_back(double(ticks.arrivals[i] - ticks.start) / 1000.0 - double(i + 1) * termUs);
    t.missing = expectedTicks - int(errors.size());
    t.bytesRight = ticks.bytes == expectedBytes(expectedTicks, channels);
    t.series = errors;
    if (errors.empty())
        return t;
    t.error = summarize(errors);
    t.lastDrift = errors.back();
    const std::size_t tenth = std::max<std::size_t>(1, errors.size() / 10);
    for (std::size_t i = 0; i < tenth; ++i) {
        t.firstTenth += errors[i] / double(tenth);
        t.lastTenth += errors[errors.size() - 1 - i] / double(tenth);
    }
    // A step of half a term or more that the following ticks never make up:
    // the schedule itself was moved, and the drift it leaves is permanent.
    for (std::size_t i = 1; i < errors.size(); ++i) {
        if (errors[i] - errors[i - 1] < termUs / 2)
            continue;
        const std::size_t end = std::min(errors.size(), i + 10);
        bool stays = true;
        for (std::size_t j = i; j < end; ++j)
            stays = stays && errors[j] - errors[i - 1] >= termUs / 2;
        t.rebased += stays ? 1 : 0;
    }
    double sx = 0, sy = 0, sxx = 0, sxy = 0;
    const double n = double(errors.size());
    for (std::size_t i = 0; i < errors.size(); ++i) {
        const double x = double(i + 1);
        sx += x;
        sy += errors[i];
        sxx += x * x;
        sxy += x * errors[i];
    }
    const double denominator = n * sxx - sx * sx;
    t.slope = denominator > 0 ? (n * sxy - sx * sy) / denominator : 0;
    return t;
}

QString ms(double us) { return QStringLiteral("%1 ms").arg(us / 1000.0, 0, 'f', 3); }

} // namespace

QJsonObject scanTiming(const Options &options)
{
    BenchPanel panel;
    QTest::mouseClick(panel.child<QAbstractButton>(QStringLiteral("optAuto")), Qt::LeftButton);
    Pty floorPty;
    const int channels = panel.window->channelCount();

    struct Case
    {
        double term;
        int ticks;
    };
    const Case cases[] = {{0.01, options.scanShortTicks}, {0.1, options.scanLongTicks}};

    QJsonArray rows;
    QJsonArray runs;
    bool allMet = true;
    for (const bool loaded : {false, true}) {
        const QString load = loaded ? QStringLiteral("loaded") : QStringLiteral("idle");
        std::unique_ptr<Spinners> spinners;
        if (loaded)
            spinners = std::make_unique<Spinners>(2);
        for (const Case &c : cases) {
            const QString loadBefore = loadAverage();
            const Timing floor = analyse(floorScan(floorPty, c.term, c.ticks, channels), c.term, c.ticks, channels);
            const Timing scan = analyse(windowScan(panel, c.term, c.ticks), c.term, c.ticks, channels);
            const bool complete = scan.missing == 0 && scan.bytesRight && panel.messages.count() == 0;
            const double p99Goal = loaded ? 5000 : 2000;
            const bool p99Met = complete && scan.error.p99 < p99Goal;
            const bool driftMet = complete && std::abs(scan.lastDrift) < 2000;
            allMet = allMet && p99Met && (loaded || driftMet);

            const QString name = QStringLiteral("2 Scan %1 s x %2, %3").arg(c.term).arg(c.ticks).arg(load);
            rows << row(name + QStringLiteral(", error median"), ms(scan.error.median), ms(floor.error.median),
                        ratioText(scan.error.median / floor.error.median), QString(), QString());
            rows << row(QStringLiteral("  error p99"), ms(scan.error.p99), ms(floor.error.p99),
                        ratioText(scan.error.p99 / floor.error.p99), QStringLiteral("< %1").arg(ms(p99Goal)),
                        yesNo(p99Met));
            rows << row(QStringLiteral("  error max"), ms(scan.error.max), ms(floor.error.max),
                        ratioText(scan.error.max / floor.error.max), QString(), QString());
            rows << row(QStringLiteral("  drift at last tick"), ms(scan.lastDrift), ms(floor.lastDrift), QString(),
                        loaded ? QString() : QStringLiteral("< 2.000 ms"), loaded ? QString() : yesNo(driftMet));
            rows << row(QStringLiteral("  schedule moved later for good"), QString::number(scan.rebased),
                        QString::number(floor.rebased), QString(), QString(), QString());
            rows << row(QStringLiteral("  error growth, first->last tenth"), ms(scan.lastTenth - scan.firstTenth),
                        ms(floor.lastTenth - floor.firstTenth), QString(), QString(), QString());

            runs << QJsonObject{{QStringLiteral("term_s"), c.term},
                                {QStringLiteral("ticks"), c.ticks},
                                {QStringLiteral("load"), load},
                                {QStringLiteral("loadavg_before"), loadBefore},
                                {QStringLiteral("window"), scan.json()},
                                {QStringLiteral("floor_clock_nanosleep_abs"), floor.json()},
                                {QStringLiteral("goal_p99_us"), p99Goal},
                                {QStringLiteral("p99_met"), p99Met},
                                {QStringLiteral("drift_met"), loaded ? QJsonValue() : QJsonValue(driftMet)}};
        }
    }
    return QJsonObject{{QStringLiteral("rows"), rows},
                       {QStringLiteral("runs"), runs},
                       {QStringLiteral("message_boxes"), QJsonArray::fromStringList(panel.messages.texts())},
                       {QStringLiteral("goal_met"), allMet}};
}

} // namespace queltor::bench
