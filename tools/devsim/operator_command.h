#pragma once

#include <optional>
#include <string>
#include <string_view>

// What an operator or a test types on the simulator's standard input, one per line.
namespace queltor::devsim {

struct OperatorCommand
{
    enum class Action { Unplug, Replug };
    Action action = Action::Unplug;
    int port = 0; // n of COMn
};

struct ParsedOperatorCommand
{
    std::optional<OperatorCommand> command;
    std::string error; // why the line was not understood; both empty for a blank line
};

// "unplug COM1" or "replug COM1"; blanks around the words do not matter.
ParsedOperatorCommand parseOperatorCommand(std::string_view line);

} // namespace queltor::devsim
