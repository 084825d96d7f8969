#pragma once

#include <string>

#include <termios.h>

// The line settings a program has put on the simulator's pseudo-terminal.
//
// Linux keeps a pseudo-terminal at 8 data bits without parity whatever is
// asked for: it clears the data size and the parity-enable flag on every
// change. The speed, the stop bits, and the odd and mark/space flags are
// kept, so those are what can be checked here.
namespace queltor::devsim {

struct LineSettings
{
    long baud = 0; // -1: a speed code this program does not know
    int dataBits = 8;
    char parity = 'N'; // N, E, O, M (mark), S (space)
    int stopBits = 1;

    bool operator==(const LineSettings &other) const;
    bool operator!=(const LineSettings &other) const { return !(*this == other); }
};

LineSettings lineSettingsOf(const termios &tio);

// Whether what shows agrees with the device: 9600 baud, 8 data bits, no parity, 1 stop bit.
bool isDeviceSetting(const LineSettings &settings);

// "9600 baud, 1 stop bit", naming data bits and parity only when they are not 8 and none.
std::string describeLineSettings(const LineSettings &settings);

// A baud constant (B9600) as a number; -1 when unknown.
long baudOf(speed_t speed);

} // namespace queltor::devsim
