#include "options.h"

#include <cerrno>
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
    long number = 0;
    const bool comPrefix = name.size() > 3 && (name.compare(0, 3, "COM") == 0 || name.compare(0, 3, "com") == 0);
    if (!comPrefix || !readNumber(name.substr(3), number) || number < 1 || number > 255)
        return "--port: \"" + name + "\" is not a port name COM1 to COM255";
    if (port.path.empty())
        return "--port " + name + ": the path is empty";
    port.number = static_cast<int>(number);
    return {};
}

} // namespace

ParsedOptions parseOptions(const std::vector<std::string> &args)
{
    ParsedOptions parsed;
    Options &options = parsed.options;

    for (std::size_t i = 0; i < args.size(); ++i) {
        std::string arg = args[i];
        std::string value;
        bool hasValue = false;
        const std::size_t equals = arg.find('=');
        if (arg.compare(0, 2, "--") == 0 && equals != std::string::npos) {
            value = arg.substr(equals + 1);
            arg = arg.substr(0, equals);
            hasValue = true;
        }
        const auto takeValue = [&]() -> bool {
            if (hasValue)
                return true;
            if (i + 1 >= args.size())
                return false;
            value = args[++i];
            return true;
        };

        if (arg == "--help" || arg == "-h") {
            options.help = true;
        } else if (arg == "--version") {
            options.version = true;
        } else if (arg == "--port") {
            if (!takeValue()) {
                parsed.error = "--port needs COMn=PATH";
                return parsed;
            }
            PortLink port;
            parsed.error = readPort(value, port);
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
        } else if (arg == "--quit-after") {
            long count = 0;
            if (!takeValue() || !readNumber(value, count) || count < 1) {
                parsed.error = "--quit-after needs a count of 1 or more";
                return parsed;
            }
            options.quitAfter = count;
        } else {
            parsed.error = "unknown argument \"" + args[i] + "\"";
            return parsed;
        }
    }

    if (!options.help && !options.version && options.ports.empty())
        parsed.error = "no port given: use --port COM1=PATH";
    return parsed;
}

std::string usageText(const std::string &program)
{
    return "Usage: " + program
        + " --port COMn=PATH [--port COMn=PATH ...] [--quit-after N]\n"
          "\n"
          "Stands in for the QUELTOR channel-switching device. Each --port gets a\n"
          "pseudo-terminal, published as a symbolic link at PATH; point the panel's\n"
          "port map there (group [Ports], key COMn in QUELTOR.conf). Every command\n"
          "received is printed as \"<time> COMn channel NN\"; anything else that\n"
          "arrives is printed as an error with its bytes escaped, and counted. When a\n"
          "program opens a port, its line settings are checked against 9600 baud, 8 data\n"
          "bits, no parity, 1 stop bit. A pseudo-terminal always carries 8 data bits\n"
          "without parity whatever a program asks for, so the check sees the speed, the\n"
          "stop bits and odd, mark or space parity, but neither the data bits nor even\n"
          "parity.\n"
          "\n"
          "  --port COMn=PATH   simulate port n (1 to 255) at PATH; repeat for more ports.\n"
          "                     An existing symbolic link at PATH is replaced, anything\n"
          "                     else is left alone and the simulator refuses to start.\n"
          "  --quit-after N     stop after N commands and errors in all, counted over\n"
          "                     every port.\n"
          "  --help             show this text.\n"
          "  --version          show the version.\n"
          "\n"
          "It runs until --quit-after is reached or it gets SIGINT or SIGTERM, then\n"
          "removes its links and prints a summary per port.\n"
          "\n"
          "Exit status: 0 when everything received was a channel command and every\n"
          "port was opened at 9600 8N1; 1 otherwise; 2 when the arguments are wrong or\n"
          "a port could not be set up.\n";
}

} // namespace queltor::devsim
