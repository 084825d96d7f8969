#pragma once

#include <string>
#include <vector>

// The simulator's command line.
namespace queltor::devsim {

struct PortLink
{
    int number = 0;   // n of COMn, 1..255
    std::string path; // where the pseudo-terminal is published
    std::string name() const { return "COM" + std::to_string(number); }
};

struct Options
{
    std::vector<PortLink> ports;
    long quitAfter = 0; // records (commands and errors) before stopping; 0: run until a signal
    bool help = false;
    bool version = false;
};

struct ParsedOptions
{
    Options options;
    std::string error; // empty when the arguments were understood
};

// args excludes the program name.
ParsedOptions parseOptions(const std::vector<std::string> &args);

std::string usageText(const std::string &program);

} // namespace queltor::devsim
