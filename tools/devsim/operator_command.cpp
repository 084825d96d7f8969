#include "operator_command.h"

#include "options.h"

#include <algorithm>
#include <vector>

namespace queltor::devsim {

ParsedOperatorCommand parseOperatorCommand(std::string_view line)
{
    std::vector<std::string> words;
    const std::string_view blanks = " \t\r";
    for (std::size_t at = line.find_first_not_of(blanks); at != std::string_view::npos;
         at = line.find_first_not_of(blanks, at)) {
        const std::size_t end = std::min(line.find_first_of(blanks, at), line.size());
        words.emplace_back(line.substr(at, end - at));
        at = end;
    }

    ParsedOperatorCommand parsed;
    if (words.empty())
        return parsed;
    OperatorCommand command;
    if (words[0] == "unplug") {
        command.action = OperatorCommand::Action::Unplug;
    } else if (words[0] == "replug") {
        command.action = OperatorCommand::Action::Replug;
    } else {
        parsed.error = "unknown command; the commands are unplug COMn and replug COMn";
        return parsed;
    }
    if (words.size() != 2) {
        parsed.error = words[0] + " needs one port, as in " + words[0] + " COM1";
        return parsed;
    }
    command.port = portNumberOf(words[1]);
    if (command.port == 0) {
        parsed.error = "\"" + words[1] + "\" is not a port name COM1 to COM255";
        return parsed;
    }
    parsed.command = command;
    return parsed;
}

} // namespace queltor::devsim
