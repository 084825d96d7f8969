// The simulated device's command parser: every byte fed lands in exactly one
// record, in order, whatever the pieces the bytes arrive in; records are
// what their kind says; their descriptions are printable and lose nothing.
#include "command_parser.h"
#include "fuzz_check.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

using namespace queltor::devsim;
using queltor::fuzz::require;

namespace {

bool isCommandLine(const std::string &bytes)
{
    return bytes.size() == 5 && bytes[0] == 'V' && bytes[1] >= '0' && bytes[1] <= '9' && bytes[2] >= '0'
        && bytes[2] <= '9' && bytes[3] == '\r' && bytes[4] == '\n';
}

// Undoes escapeBytes; an escape it would not write is kept as text so the
// comparison with the original fails.
std::string unescape(const std::string &text)
{
    std::string bytes;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            bytes += text[i];
            continue;
        }
        const char kind = text[++i];
        if (kind == 'r') {
            bytes += '\r';
        } else if (kind == 'n') {
            bytes += '\n';
        } else if (kind == 't') {
            bytes += '\t';
        } else if (kind == '\\' || kind == '"') {
            bytes += kind;
        } else if (kind == 'x' && i + 2 < text.size()) {
            bytes += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            bytes += '\\';
            bytes += kind;
        }
    }
    return bytes;
}

std::string shown(const std::string &bytes) { return "\"" + escapeBytes(bytes) + "\""; }

void checkRecord(const Record &record, bool last, Record::Kind ending)
{
    const std::string &bytes = record.bytes;
    require(!bytes.empty() && bytes.size() <= CommandParser::kMaxLine, "a record holds 1 to kMaxLine bytes",
            shown(bytes));
    require(record.isError() == (record.kind != Record::Kind::Command), "only commands are not errors", shown(bytes));
    const bool lineEnd = bytes.back() == '\n';
    require(std::count(bytes.begin(), bytes.end(), '\n') == (lineEnd ? 1 : 0), "a line end closes its record",
            shown(bytes));

    switch (record.kind) {
    case Record::Kind::Command:
        require(isCommandLine(bytes) && record.channel == (bytes[1] - '0') * 10 + (bytes[2] - '0'),
                "a command is V, two digits, CR, LF and carries their channel", shown(bytes));
        require(describeRecord(record) == "channel " + bytes.substr(1, 2), "a command is described by its channel",
                describeRecord(record));
        break;
    case Record::Kind::NotACommand:
        require(lineEnd && !isCommandLine(bytes), "a line that is not a command is reported as such", shown(bytes));
        break;
    case Record::Kind::TooLong:
        require(!lineEnd && bytes.size() == CommandParser::kMaxLine, "only kMaxLine bytes without a line end run on",
                shown(bytes));
        break;
    case Record::Kind::UnfinishedAtClose:
    case Record::Kind::UnfinishedAtStop:
        require(last && record.kind == ending && !lineEnd && bytes.size() < CommandParser::kMaxLine,
                "only the bytes left at the end are unfinished, with the ending asked for", shown(bytes));
        break;
    }

    if (record.isError()) {
        const std::string text = describeRecord(record);
        require(std::all_of(text.begin(), text.end(), [](char c) { return c >= ' ' && c <= '~'; }),
                "a description is printable ASCII", text);
        const std::string escaped = escapeBytes(bytes);
        require(text.rfind("error: \"" + escaped + "\" ", 0) == 0, "an error shows its bytes escaped", text);
        require(unescape(escaped) == bytes, "escaped bytes lose nothing", shown(bytes));
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string input(reinterpret_cast<const char *>(data), size);
    const Record::Kind ending = size > 0 && (data[0] & 1) ? Record::Kind::UnfinishedAtStop
                                                          : Record::Kind::UnfinishedAtClose;

    CommandParser whole;
    std::vector<Record> records = whole.feed(input);
    const bool waiting = whole.hasPartialLine();
    const std::optional<Record> rest = whole.finish(ending);
    require(waiting == rest.has_value(), "bytes are waiting exactly when finishing reports them", shown(input));
    require(!whole.hasPartialLine() && !whole.finish(ending), "finishing starts afresh", shown(input));
    if (rest)
        records.push_back(*rest);

    std::string accounted;
    for (std::size_t i = 0; i < records.size(); ++i) {
        checkRecord(records[i], i + 1 == records.size(), ending);
        accounted += records[i].bytes;
    }
    require(accounted == input, "the records hold every byte fed, once and in order", shown(input));

    // The same bytes in pieces of 1 to 17 bytes, sized by the input itself.
    CommandParser pieces;
    std::vector<Record> pieceRecords;
    for (std::size_t at = 0, i = 0; at < size; ++i) {
        const std::size_t length = std::min<std::size_t>(1 + data[i % size] % 17, size - at);
        pieces.feed(std::string_view(input).substr(at, length), pieceRecords);
        at += length;
    }
    if (const std::optional<Record> pieceRest = pieces.finish(ending))
        pieceRecords.push_back(*pieceRest);
    bool same = pieceRecords.size() == records.size();
    for (std::size_t i = 0; same && i < records.size(); ++i) {
        same = pieceRecords[i].kind == records[i].kind && pieceRecords[i].channel == records[i].channel
            && pieceRecords[i].bytes == records[i].bytes;
    }
    require(same, "the pieces the bytes arrive in change no record", shown(input));
    return 0;
}
