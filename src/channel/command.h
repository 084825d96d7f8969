#pragma once

#include <QByteArray>
#include <QString>

namespace queltor {

constexpr int kFirstChannel = 0;
constexpr int kLastChannel = 99;

constexpr bool isChannel(long long channel) { return channel >= kFirstChannel && channel <= kLastChannel; }

// The five bytes that put the device on a channel: 'V', two digits, CR, LF.
// The channel must satisfy isChannel().
QByteArray channelCommand(int channel);

// The two digits the display shows for a channel ("07", "42").
QString channelDisplayText(int channel);

} // namespace queltor
