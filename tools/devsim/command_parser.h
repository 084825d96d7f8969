#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the device makes of the bytes on its line. A command is exactly
// 'V', two digits, CR, LF; everything else is reported, byte for byte.
// Every byte fed ends up in exactly one record.
namespace queltor::devsim {

struct Record
{
    enum class Kind {
        Command,           // channel holds 0..99
        NotACommand,       // a line (ending in LF) that is not a command
        TooLong,           // kMaxLine bytes without a line end; the rest starts afresh
        UnfinishedAtClose, // bytes without a line end when the port was closed
        UnfinishedAtStop,  // bytes without a line end when the simulator stopped
    };

    Kind kind = Kind::NotACommand;
    int channel = -1;
    std::string bytes;

    bool isError() const { return kind != Kind::Command; }
};

class CommandParser
{
public:
    static constexpr std::size_t kMaxLine = 64;

    // Appends to out a record for every line that the bytes complete.
    void feed(std::string_view bytes, std::vector<Record> &out);
    std::vector<Record> feed(std::string_view bytes);

    // The bytes still waiting for their line end, as an error record; the
    // parser starts afresh. Nothing when no bytes are waiting.
    std::optional<Record> finish(Record::Kind ending = Record::Kind::UnfinishedAtClose);

    bool hasPartialLine() const { return !m_line.empty(); }

private:
    std::string m_line;
};

// Bytes as printable ASCII: \r \n \t \\ \" and \xNN for anything else
// outside ' '..'~'.
std::string escapeBytes(std::string_view bytes);

// "channel 07", or "error: \"V7\\r\\n\" is not a channel command", and so on.
std::string describeRecord(const Record &record);

} // namespace queltor::devsim
