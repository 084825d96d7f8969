// Figure 1: from a mouse click on a channel button to the command's five bytes
// being readable where the device would read them, against a bare write(2)
// and, to show what Qt's own click handling costs, a bare button that write(2)s.
#include "figures.h"
#include "floor_panel.h"
#include "panel_fixture.h"

#include "channel/command.h"

#include <cstring>
#include <unistd.h>

namespace queltor::bench {

QJsonObject clickToWire(const Options &options)
{
    BenchPanel panel;
    Pty floorPty;
    const int floorWriter = floorPty.rawWriter();
    const int channels = panel.window->channelCount();
    Pty qtFloorPty;
    FloorPanel qtFloor(qtFloorPty.rawWriter());
    qtFloor.show();
    if (!QTest::qWaitForWindowExposed(&qtFloor))
        qFatal("the floor window was never exposed");

    std::vector<double> clickUs;
    std::vector<double> floorUs;
    std::vector<double> qtFloorUs;
    std::vector<double> releaseUs;
    std::vector<double> qtFloorReleaseUs;
    clickUs.reserve(std::size_t(options.clicks));
    floorUs.reserve(std::size_t(options.clicks));
    int wrong = 0;
    int floorWrong = 0;

    const int warmUp = 200;
    for (int k = -warmUp; k < options.clicks; ++k) {
        // Stepping through the bank, so every click moves the bold face as an operator's would.
        const int channel = (k + warmUp) % channels;
        const QByteArray expected = channelCommand(channel);
        QAbstractButton *button = panel.button(channel);
        char got[5] = {};

        // QTest::mouseClick() is this press and this release; the command goes out on the release.
        const std::int64_t t0 = wallNs();
        QTest::mousePress(button, Qt::LeftButton);
        const std::int64_t tr = wallNs();
        QTest::mouseRelease(button, Qt::LeftButton);
        const bool arrived = panel.com1.readExactly(got, 5);
        const std::int64_t t1 = wallNs();
        if (!arrived || std::memcmp(got, expected.constData(), 5) != 0)
            ++wrong;
        // The repaint the click asked for, outside the timing.
        QApplication::processEvents();

        const std::int64_t f0 = wallNs();
        const bool written = ::write(floorWriter, expected.constData(), 5) == 5;
        const bool floorArrived = written && floorPty.readExactly(got, 5);
        const std::int64_t f1 = wallNs();
        if (!floorArrived || std::memcmp(got, expected.constData(), 5) != 0)
            ++floorWrong;

        auto *bare = qobject_cast<QAbstractButton *>(findNamed(&qtFloor, QStringLiteral("cmdCH(%1)").arg(channel)));
        const std::int64_t q0 = wallNs();
        QTest::mousePress(bare, Qt::LeftButton);
        const std::int64_t qr = wallNs();
        QTest::mouseRelease(bare, Qt::LeftButton);
        const bool qtArrived = qtFloorPty.readExactly(got, 5);
        const std::int64_t q1 = wallNs();
        if (!qtArrived || std::memcmp(got, expected.constData(), 5) != 0)
            ++floorWrong;
        QApplication::processEvents();

        if (k >= 0) {
            clickUs.push_back(double(t1 - t0) / 1000.0);
            floorUs.push_back(double(f1 - f0) / 1000.0);
            qtFloorUs.push_back(double(q1 - q0) / 1000.0);
            releaseUs.push_back(double(t1 - tr) / 1000.0);
            qtFloorReleaseUs.push_back(double(q1 - qr) / 1000.0);
        }
    }
    const QByteArray stray = panel.com1.drain();

    const Summary click = summarize(clickUs);
    const Summary floor = summarize(floorUs);
    const Summary qtFloorClick = summarize(qtFloorUs);
    const Summary release = summarize(releaseUs);
    const Summary qtFloorRelease = summarize(qtFloorReleaseUs);
    const double ratio = click.median / floor.median;
    const double share = click.median / kWireMicros;
    const bool medianMet = ratio <= 3.0 && share < 0.02;
    const bool p99Met = click.p99 < 500.0;
    const bool valid = wrong == 0 && floorWrong == 0 && stray.isEmpty() && panel.messages.count() == 0;

    QJsonArray rows;
    rows << row(QStringLiteral("1 Click to wire, median"), micros(click.median), micros(floor.median), ratioText(ratio),
                QStringLiteral("<= 3x floor and < 2% of wire (%1)").arg(micros(kWireMicros * 0.02)),
                yesNo(medianMet && valid));
    rows << row(QStringLiteral("  share of 5.21 ms wire time"), QStringLiteral("%1 %").arg(share * 100, 0, 'f', 2),
                QStringLiteral("%1 %").arg(floor.median / kWireMicros * 100, 0, 'f', 2), QString(),
                QStringLiteral("< 2 %"), yesNo(share < 0.02 && valid));
    rows << row(QStringLiteral("  p99"), micros(click.p99), micros(floor.p99), ratioText(click.p99 / floor.p99),
                QStringLiteral("< 500 µs"), yesNo(p99Met && valid));
    rows << row(QStringLiteral("  max"), micros(click.max), micros(floor.max), ratioText(click.max / floor.max),
                QString(), QString());
    rows << row(QStringLiteral("  vs a bare Qt button that write(2)s, median"), micros(click.median),
                micros(qtFloorClick.median), ratioText(click.median / qtFloorClick.median), QString(), QString());
    rows << row(QStringLiteral("  from the release alone, median"), micros(release.median), micros(floor.median),
                ratioText(release.median / floor.median), QString(), QString());
    rows << row(QStringLiteral("  from the release, vs the bare Qt button"), micros(release.median),
                micros(qtFloorRelease.median), ratioText(release.median / qtFloorRelease.median), QString(), QString());

    return QJsonObject{
        {QStringLiteral("rows"), rows},
        {QStringLiteral("clicks"), options.clicks},
        {QStringLiteral("click_us"), click.json()},
        {QStringLiteral("floor_write_us"), floor.json()},
        {QStringLiteral("bare_qt_button_click_us"), qtFloorClick.json()},
        {QStringLiteral("release_to_wire_us"), release.json()},
        {QStringLiteral("bare_qt_button_release_to_wire_us"), qtFloorRelease.json()},
        {QStringLiteral("ratio_median"), ratio},
        {QStringLiteral("wire_time_us"), kWireMicros},
        {QStringLiteral("share_of_wire_time"), share},
        {QStringLiteral("wrong_or_lost_commands"), wrong},
        {QStringLiteral("floor_wrong_or_lost"), floorWrong},
        {QStringLiteral("stray_bytes"), stray.size()},
        {QStringLiteral("message_boxes"), QJsonArray::fromStringList(panel.messages.texts())},
        {QStringLiteral("goal_met"), medianMet && p99Met && valid},
    };
}

} // namespace queltor::bench
