#pragma once

#include <QByteArray>
#include <QByteArrayView>
#include <QString>

#include <optional>

// The text of the settings file, read and edited line by line as plain bytes.
// Lines end in LF, CR LF or a lone CR, as editors save them, and a UTF-8 byte
// order mark at the start is passed over; an edit keeps both as they are, and
// a line it adds ends as the file's first line does.
//
// A line is "[group]", "key=value", a comment (first non-blank ';' or '#'),
// blank, or anything else, which is passed over. A value is the text after the
// first '=' to the line end, blanks (space, tab) around it trimmed and every
// other byte kept; a value wrapped in double quotes is unquoted with its
// backslash escapes read, as QSettings writes them. Where a key appears more
// than once in its group, the last line counts, as it does for QSettings.
namespace queltor::settings_text {

constexpr qsizetype kMaxFileBytes = 64 * 1024;
constexpr qsizetype kMaxValueChars = 1000;

// Why text cannot be a settings file, worded to follow "it": "is larger than
// 64 KB", "has a value of more than 1,000 characters on line 3". Empty when it can.
// Stops at the first flaw.
QString flaw(QByteArrayView text);

// The value of key in group, or nothing when the key is not there.
std::optional<QByteArray> value(QByteArrayView text, QByteArrayView group, QByteArrayView key);

// text with the value of key in group set to newValue. Only that value's bytes
// change; a missing key gets one line at the end of its group, and a missing
// group is added at the end of the text. Every other byte stays as it was.
QByteArray withValue(const QByteArray &text, QByteArrayView group, QByteArrayView key, QByteArrayView newValue);

// How newValue is written after '=': as it is when both this reader and
// QSettings read it back unchanged, else in double quotes with escapes.
QByteArray encoded(QByteArrayView newValue);

// The bytes as text for a message: UTF-8 kept, every other byte and every
// control character shown as \xNN.
QString forDisplay(QByteArrayView bytes);

} // namespace queltor::settings_text
