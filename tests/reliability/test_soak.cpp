// 100,000 selections on the real window as fast as the event loop takes them,
// with the device side reading all along: every command must arrive whole, in
// order, once, and the panel's memory must not creep.
#include "panel.h"
#include "reliability.h"

#include <array>
#include <cstring>

#include <poll.h>

using namespace queltor;

namespace {

// A repeatable stream of channels 0..99 with runs, repeats and jumps, so a lost
// or doubled command cannot hide behind a neighbour that looks the same.
class ChannelStream
{
public:
    int next()
    {
        m_state = m_state * 1103515245u + 12345u;
        return static_cast<int>((m_state >> 16) % 100u);
    }

private:
    quint32 m_state = 20240611u;
};

QString describe(const char *bytes, int size)
{
    return QString::fromLatin1(QByteArray(bytes, size).toPercentEncoding());
}

} // namespace

class TestSoak : public QObject
{
    Q_OBJECT
private slots:
    void hundredThousandSelections();
};

void TestSoak::hundredThousandSelections()
{
    constexpr int kSelections = 100000;
    constexpr int kWarmUp = 10000;
    constexpr int kBatch = 100;
    constexpr long long kAllowedGrowth = 1024 * 1024;

    Panel panel;
    panel.start();
    panel.choose(QStringLiteral("mnuChNum(9)"));
    QCOMPARE(panel.window->channelCount(), 100);
    QCOMPARE(panel.messages.count(), 0);

    std::array<QPushButton *, 100> buttons{};
    for (int i = 0; i < 100; ++i)
        buttons[static_cast<std::size_t>(i)] = panel.button(i);

    ChannelStream sent;
    ChannelStream expected;
    QByteArray pending;
    pending.reserve(1 << 16);
    int arrived = 0;
    int lastChannel = -1;

    // Takes what the master has and checks it command by command against the stream.
    const auto takeArrivals = [&]() -> bool {
        panel.com1.drainInto(pending);
        qsizetype at = 0;
        while (pending.size() - at >= 5) {
            if (arrived >= kSelections) {
                qWarning("more than %d commands arrived: %s", kSelections,
                         qPrintable(describe(pending.constData() + at, int(pending.size() - at))));
                return false;
            }
            const int ch = expected.next();
            const char want[5] = {'V', char('0' + ch / 10), char('0' + ch % 10), '\r', '\n'};
            if (std::memcmp(pending.constData() + at, want, 5) != 0) {
                qWarning("command %d: expected %s, the wire has %s", arrived, qPrintable(describe(want, 5)),
                         qPrintable(
                             describe(pending.constData() + at, int(std::min<qsizetype>(20, pending.size() - at)))));
                return false;
            }
            at += 5;
            ++arrived;
        }
        pending.remove(0, at); // keeps its capacity: the reader itself does not grow
        return true;
    };

    QElapsedTimer clock;
    clock.start();
    long long baseline = 0;
    long long peak = 0;
    qint64 warmUpMs = 0;
    for (int done = 0; done < kSelections;) {
        for (int k = 0; k < kBatch; ++k, ++done) {
            lastChannel = sent.next();
            QPushButton *button = buttons[static_cast<std::size_t>(lastChannel)];
            // Mostly the button's own click; one in each batch by a real mouse event.
            if (k == kBatch - 1)
                QTest::mouseClick(button, Qt::LeftButton);
            else
                button->click();
        }
        QCoreApplication::processEvents(); // repaints, timers: the loop turns once per batch
        QVERIFY(takeArrivals());
        if (done == kWarmUp) {
            warmUpMs = clock.elapsed();
            baseline = reliability::residentBytes();
            peak = baseline;
        } else if (done > kWarmUp) {
            peak = std::max(peak, reliability::residentBytes());
        }
    }
    const qint64 sendMs = clock.elapsed();

    QElapsedTimer drain;
    drain.start();
    while (arrived < kSelections && drain.elapsed() < 10000) {
        pollfd p{panel.com1.masterFd(), POLLIN, 0};
        ::poll(&p, 1, 10);
        QCoreApplication::processEvents();
        QVERIFY(takeArrivals());
    }
    QCOMPARE(arrived, kSelections);
    QVERIFY2(pending.isEmpty(), qPrintable(describe(pending.constData(), int(pending.size()))));
    // Nothing trails the last command.
    QCOMPARE(panel.com1.readAll(200), QByteArray());

    QCoreApplication::processEvents();
    const long long final = reliability::residentBytes();
    qInfo("%d selections in %lld ms (%.1f us each, warm-up %lld ms); resident after warm-up %.2f MB, "
          "at the end %.2f MB (growth %+lld KB, peak growth %+lld KB)",
          kSelections, sendMs, 1000.0 * double(sendMs) / kSelections, warmUpMs, baseline / 1048576.0, final / 1048576.0,
          (final - baseline) / 1024, (peak - baseline) / 1024);
    if (reliability::kResidentSizeMeaningful)
        QVERIFY2(final - baseline < kAllowedGrowth,
                 qPrintable(QStringLiteral("grew by %1 bytes").arg(final - baseline)));

    QCOMPARE(panel.display()->text(), QStringLiteral("%1").arg(lastChannel, 2, 10, QLatin1Char('0')));
    QCOMPARE(panel.boldButtons(), QList<int>{lastChannel});
    QCOMPARE(panel.messages.count(), 0);
}

QTEST_MAIN(TestSoak)
#include "test_soak.moc"
