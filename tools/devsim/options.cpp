#include "options.h"

#include <QCommandLineParser>

#include <cstdlib>

namespace queltor::devsim {

namespace {

// Digits only: no sign, no blanks, no trailing text.
bool readNumber(const std::string &text, long &value)
{
    if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

std::string readPort(const std::string &text, PortLink &port)
{
    const std::size_t equals = text.find('=');
    if (equals == std::string::npos)
        return "--port needs COMn=PATH, got \"" + text + "\"";
    const std::string name = text.substr(0, equals);
    port.path = text.substr(equals + 1);
    port.number = portNumberOf(name);
    if (port.number == 0)
        return "--port: \"" + name + "\" is not a port name COM1 to COM255";
    if (port.path.empty())
        return "--port " + name + ": the path is empty";
    return {};
}

const QCommandLineOption kHelp({QStringLiteral("h"), QStringLiteral("help")}, QStringLiteral("Show this text."));
const QCommandLineOption kVersion(QStringLiteral("version"), QStringLiteral("Show the version."));
const QCommandLineOption kPort(QStringLiteral("port"),
                               QStringLiteral("Simulate port n (1 to 255) at PATH; repeat for more\n"
                                              "ports. An existing symbolic link at PATH is replaced,\n"
                                              "anything else is left alone and the simulator refuses\n"
                                              "to start."),
                               QStringLiteral("COMn=PATH"));
const QCommandLineOption kQuitAfter(QStringLiteral("quit-after"),
                                    QStringLiteral("Stop after N commands and errors in all, counted over\n"
                                                   "every port."),
                                    QStringLiteral("N"));

void declare(QCommandLineParser &parser)
{
    parser.setApplicationDescription(
        QStringLiteral("\n"
                       "Stands in for the QUELTOR channel-switching device. Each --port gets a\n"
                       "pseudo-terminal, published as a symbolic link at PATH; point the panel's\n"
                       "port map there (group [Ports], key COMn in QUELTOR.conf). Every command\n"
                       "received is printed as \"<time> COMn channel NN\"; anything else that\n"
                       "arrives is printed as an error with its bytes escaped, and counted. When a\n"
                       "program opens a port, its line settings are checked against 9600 baud, 8 data\n"
                       "bits, no parity, 1 stop bit: the settings it has left standing for 0.1 s,\n"
                       "or, when it changed nothing since it opened the port, the settings its bytes\n"
                       "went out with. A pseudo-terminal always carries 8 data bits without parity\n"
                       "whatever a program asks for, so the check sees the speed, the stop bits and\n"
                       "odd, mark or space parity, but neither the data bits nor even parity."));
    parser.addOptions({kHelp, kVersion, kPort, kQuitAfter});
}

} // namespace

int portNumberOf(const std::string &name)
{
    long number = 0;
    const bool comPrefix = name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0);
    if (!comPrefix || !readNumber(name.substr(3), number) || number < 1 || number > 255)
        return 0;
    return static_cast<int>(number);
}

ParsedOptions parseOptions(const std::vector<std::string> &args)
{
    ParsedOptions parsed;
    Options &options = parsed.options;
    QStringList arguments{QStringLiteral("queltor-devsim")};
    for (const std::string &arg : args)
        arguments << QString::fromLocal8Bit(arg.c_str());
    QCommandLineParser parser;
    declare(parser);
    if (!parser.parse(arguments)) {
        parsed.error = parser.errorText().toStdString();
        return parsed;
    }
    if (const QStringList extra = parser.positionalArguments(); !extra.isEmpty()) {
        parsed.error = "unexpected argument \"" + extra.first().toStdString() + "\"";
        return parsed;
    }
    options.help = parser.isSet(kHelp);
    options.version = parser.isSet(kVersion);

    for (const QString &value : parser.values(kPort)) {
        PortLink port;
        parsed.error = readPort(value.toLocal8Bit().toStdString(), port);
        if (!parsed.error.empty())
            return parsed;
        for (const PortLink &other : options.ports) {
            if (other.number == port.number) {
                parsed.error = "--port " + port.name() + " is given twice";
                return parsed;
            }
            if (other.path == port.path) {
                parsed.error = "--port: " + other.name() + " and " + port.name() + " share the path " + port.path;
                return parsed;
            }
        }
        options.ports.push_back(port);
    }
    if (parser.isSet(kQuitAfter)) {
        long count = 0;
        if (!readNumber(parser.value(kQuitAfter).toStdString(), count) || count < 1) {
            parsed.error = "--quit-after needs a count of 1 or more";
            return parsed;
        }
        options.quitAfter = count;
    }

    if (!options.help && !options.version && options.ports.empty())
        parsed.error = "no port given: use --port COM1=PATH";
    return parsed;
}

std::string usageText(const std::string &program)
{
    QCommandLineParser parser;
    declare(parser);
    const QString generated = parser.helpText();
    const QString name = QString::fromStdString(program);
    const QString text = QStringLiteral("Usage: %1 --port COMn=PATH [--port COMn=PATH ...] [--quit-after N]\n"
                                        "       %1 --help | --version")
                             .arg(name)
        + generated.mid(generated.indexOf(QLatin1Char('\n')))
        + QStringLiteral("\n"
                         "Commands on standard input, one a line:\n"
                         "  unplug COMn        pull the device: close the port's pseudo-terminal, so a\n"
                         "                     program holding it sees a hang-up, and remove PATH.\n"
                         "  replug COMn        plug it back: publish a fresh pseudo-terminal at PATH.\n"
                         "Anything else is reported on standard error and ignored. The end of the input\n"
                         "ends the commands, not the simulator; a FIFO is read again each time a writer\n"
                         "has closed it, so a script may send each command with echo.\n"
                         "\n"
                         "Lines printed, each after the time (HH:MM:SS.mmm):\n"
                         "  COMn ready at PATH (/dev/pts/N)\n"
                         "  COMn channel NN\n"
                         "  COMn error: \"BYTES\" is not a channel command (and other errors)\n"
                         "  COMn opened at SETTINGS: ok\n"
                         "  COMn opened at SETTINGS: mismatch, the device expects 9600 8N1\n"
                         "  COMn line settings now SETTINGS: ok (or the mismatch as above)\n"
                         "  COMn opened and closed again at once; line settings not checked\n"
                         "  COMn closed\n"
                         "  COMn unplugged\n"
                         "  COMn replugged at PATH (/dev/pts/N)\n"
                         "  COMn already unplugged\n"
                         "  COMn already plugged in at PATH (/dev/pts/N)\n"
                         "  COMn not replugged: REASON\n"
                         "\n"
                         "It runs until --quit-after is reached or it gets SIGINT, SIGTERM or SIGHUP,\n"
                         "then removes its links and prints a summary per port.\n"
                         "\n"
                         "Exit status: 0 when everything received was a channel command and every\n"
                         "port was opened at 9600 8N1; 1 otherwise; 2 when the arguments are wrong or\n"
                         "a port could not be set up.\n");
    return text.toStdString();
}

} // namespace queltor::devsim
