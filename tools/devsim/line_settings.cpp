#include "line_settings.h"

namespace queltor::devsim {

bool LineSettings::operator==(const LineSettings &other) const
{
    return baud == other.baud && dataBits == other.dataBits && parity == other.parity && stopBits == other.stopBits;
}

long baudOf(speed_t speed)
{
    struct Entry
    {
        speed_t code;
        long baud;
    };
    static const Entry table[] = {
        {B0, 0},
        {B50, 50},
        {B75, 75},
        {B110, 110},
        {B134, 134},
        {B150, 150},
        {B200, 200},
        {B300, 300},
        {B600, 600},
        {B1200, 1200},
        {B1800, 1800},
        {B2400, 2400},
        {B4800, 4800},
        {B9600, 9600},
        {B19200, 19200},
        {B38400, 38400},
#ifdef B57600
        {B57600, 57600},
        {B115200, 115200},
        {B230400, 230400},
#endif
#ifdef B460800
        {B460800, 460800},
        {B500000, 500000},
        {B576000, 576000},
        {B921600, 921600},
        {B1000000, 1000000},
        {B1152000, 1152000},
        {B1500000, 1500000},
        {B2000000, 2000000},
#endif
    };
    for (const Entry &entry : table)
        if (entry.code == speed)
            return entry.baud;
    return -1;
}

LineSettings lineSettingsOf(const termios &tio)
{
    LineSettings settings;
    settings.baud = baudOf(::cfgetospeed(&tio));

    switch (tio.c_cflag & CSIZE) {
    case CS5:
        settings.dataBits = 5;
        break;
    case CS6:
        settings.dataBits = 6;
        break;
    case CS7:
        settings.dataBits = 7;
        break;
    default:
        settings.dataBits = 8;
        break;
    }

    // PARODD and CMSPAR outlive the cleared enable flag on a pseudo-terminal and
    // still tell what was asked for; even parity leaves no trace there.
    const bool odd = tio.c_cflag & PARODD;
#ifdef CMSPAR
    const bool stick = tio.c_cflag & CMSPAR;
#else
    const bool stick = false;
#endif
    if (stick)
        settings.parity = odd ? 'M' : 'S';
    else if (odd)
        settings.parity = 'O';
    else
        settings.parity = (tio.c_cflag & PARENB) ? 'E' : 'N';
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    return settings;
}

bool isDeviceSetting(const LineSettings &settings)
{
    return settings.baud == 9600 && settings.dataBits == 8 && settings.parity == 'N' && settings.stopBits == 1;
}

std::string describeLineSettings(const LineSettings &settings)
{
    const auto baud = [](long value) { return value < 0 ? std::string("unknown") : std::to_string(value); };
    std::string text = baud(settings.baud) + " baud";
    if (settings.dataBits != 8)
        text += ", " + std::to_string(settings.dataBits) + " data bits";
    switch (settings.parity) {
    case 'E':
        text += ", even parity";
        break;
    case 'O':
        text += ", odd parity";
        break;
    case 'M':
        text += ", mark parity";
        break;
    case 'S':
        text += ", space parity";
        break;
    default:
        break;
    }
    text += settings.stopBits == 1 ? ", 1 stop bit" : ", " + std::to_string(settings.stopBits) + " stop bits";
    return text;
}

} // namespace queltor::devsim
