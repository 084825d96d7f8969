#include "command_parser.h"

#include <cstdio>

namespace queltor::devsim {

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

Record lineRecord(std::string line)
{
    Record record;
    if (line.size() == 5 && line[0] == 'V' && isDigit(line[1]) && isDigit(line[2]) && line[3] == '\r'
        && line[4] == '\n') {
        record.kind = Record::Kind::Command;
        record.channel = (line[1] - '0') * 10 + (line[2] - '0');
    }
    record.bytes = std::move(line);
    return record;
}

} // namespace

void CommandParser::feed(std::string_view bytes, std::vector<Record> &out)
{
    for (const char c : bytes) {
        m_line.push_back(c);
        if (c == '\n') {
            out.push_back(lineRecord(std::move(m_line)));
            m_line.clear();
        } else if (m_line.size() >= kMaxLine) {
            // No command is this long; report it now rather than hold an
            // endless stream of noise.
            Record record;
            record.kind = Record::Kind::TooLong;
            record.bytes = std::move(m_line);
            out.push_back(std::move(record));
            m_line.clear();
        }
    }
}

std::vector<Record> CommandParser::feed(std::string_view bytes)
{
    std::vector<Record> out;
    feed(bytes, out);
    return out;
}

std::optional<Record> CommandParser::finish(Record::Kind ending)
{
    if (m_line.empty())
        return std::nullopt;
    Record record;
    record.kind = ending;
    record.bytes = std::move(m_line);
    m_line.clear();
    return record;
}

std::string escapeBytes(std::string_view bytes)
{
    std::string text;
    text.reserve(bytes.size());
    for (const char c : bytes) {
        switch (c) {
        case '\r':
            text += "\\r";
            break;
        case '\n':
            text += "\\n";
            break;
        case '\t':
            text += "\\t";
            break;
        case '\\':
            text += "\\\\";
            break;
        case '"':
            text += "\\\"";
            break;
        default:
            if (c >= ' ' && c <= '~') {
                text += c;
            } else {
                char hex[5];
                std::snprintf(hex, sizeof hex, "\\x%02x", static_cast<unsigned char>(c));
                text += hex;
            }
        }
    }
    return text;
}

std::string describeRecord(const Record &record)
{
    if (record.kind == Record::Kind::Command) {
        char text[16];
        std::snprintf(text, sizeof text, "channel %02d", record.channel);
        return text;
    }
    std::string text = "error: \"" + escapeBytes(record.bytes) + "\" ";
    switch (record.kind) {
    case Record::Kind::NotACommand:
        text += "is not a channel command";
        break;
    case Record::Kind::TooLong:
        text += "runs on without a line end";
        break;
    case Record::Kind::UnfinishedAtClose:
        text += "was left unfinished when the port closed";
        break;
    case Record::Kind::UnfinishedAtStop:
        text += "was left unfinished when the simulator stopped";
        break;
    case Record::Kind::Command:
        break;
    }
    return text;
}

} // namespace queltor::devsim
