// Opens COM1, mapped to the device named on the command line, and sends it
// channel 07, as the panel would. Prints "sent" or the message the operator
// would see. Settings live in a private home, so this runs as any user.
#include "channel/command.h"
#include "link/failure.h"
#include "link/serial_port.h"
#include "link/settings_store.h"

#include <QCoreApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <QTextStream>

int main(int argc, char *argv[])
{
    QTextStream out(stdout);
    if (argc != 2) {
        out << "usage: queltor_open_port DEVICE\n";
        return 2;
    }

    QTemporaryDir home;
    if (!home.isValid()) {
        out << "no private settings home: " << home.errorString() << '\n';
        return 2;
    }
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(home.path()));
    QCoreApplication app(argc, argv);
    {
        QSettings settings(QStringLiteral("QUELTOR"), QStringLiteral("QUELTOR"));
        settings.setValue(QStringLiteral("Ports/COM1"), QString::fromLocal8Bit(argv[1]));
    }

    try {
        queltor::SettingsStore store;
        queltor::SerialPort port(store);
        port.setCommPort(1);
        port.setPortOpen(true);
        port.output(queltor::channelCommand(7));
        port.setPortOpen(false);
    } catch (const queltor::Failed &error) {
        out << error.failure().text() << '\n';
        return 1;
    }
    out << "sent\n";
    return 0;
}
