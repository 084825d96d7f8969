// The settings file's editor over any bytes: saving a key changes the bytes of
// its value, or adds its line, and nothing else; the value reads back as
// saved; every other key reads as before; saving the same value again leaves
// the text as it is. The first input byte picks how many of the next bytes
// are the value to save; the rest is the file.
#include "fuzz_check.h"
#include "link/settings_text.h"

#include <QByteArray>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>

using queltor::fuzz::require;
namespace text = queltor::settings_text;

namespace {

struct Key
{
    const char *group;
    const char *key;
};

constexpr Key kOwned[] = {{"Settings", "ChNum"}, {"Settings", "ComPort"}};
constexpr Key kWatched[] = {{"Settings", "ChNum"}, {"Settings", "ComPort"}, {"Settings", "Other"},
                            {"Ports", "COM1"},     {"Ports", "COM2"},       {"", "ChNum"}};

std::string describe(QByteArrayView bytes)
{
    return queltor::fuzz::quoteBytes(bytes.data(), std::size_t(bytes.size()));
}

std::string describeValue(const std::optional<QByteArray> &value)
{
    return value ? describe(*value) : std::string("(absent)");
}

// require() with the detail worked out only when the property does not hold.
template <typename Detail>
void check(bool holds, const char *property, const Detail &detail)
{
    if (!holds)
        require(false, property, detail());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArrayView input(reinterpret_cast<const char *>(data), static_cast<qsizetype>(size));
    const QByteArrayView rest = input.sliced(size > 0 ? 1 : 0);
    const QByteArrayView value = rest.first(std::min<qsizetype>(size > 0 ? data[0] % 32 : 0, rest.size()));
    const QByteArray file = rest.sliced(value.size()).toByteArray();

    text::flaw(file);
    for (const QChar c : text::forDisplay(file))
        check(c.unicode() >= 0x20 && c.unicode() != 0x7F, "shown bytes hold no control character",
              [&] { return describe(file); });

    for (const Key &owned : kOwned) {
        const QByteArray saved = text::withValue(file, owned.group, owned.key, value);
        const auto context = [&] {
            return std::string(owned.key) + "=" + describe(value) + " saved into " + describe(file) + " gives "
                + describe(saved);
        };
        check(text::value(saved, owned.group, owned.key) == value.toByteArray(), "the value reads back as saved",
              context);
        for (const Key &other : kWatched) {
            if (other.group == owned.group && other.key == owned.key)
                continue;
            const std::optional<QByteArray> before = text::value(file, other.group, other.key);
            const std::optional<QByteArray> after = text::value(saved, other.group, other.key);
            check(before == after, "every other key reads as before", [&] {
                return std::string(other.key) + " was " + describeValue(before) + ", is " + describeValue(after) + "; "
                    + context();
            });
        }

        // One change in one place: the bytes of the old value, or none.
        qsizetype prefix = 0;
        while (prefix < file.size() && prefix < saved.size() && file.at(prefix) == saved.at(prefix))
            ++prefix;
        qsizetype suffix = 0;
        while (suffix < file.size() - prefix && suffix < saved.size() - prefix
               && file.at(file.size() - 1 - suffix) == saved.at(saved.size() - 1 - suffix))
            ++suffix;
        const QByteArrayView removed = QByteArrayView(file).sliced(prefix, file.size() - prefix - suffix);
        const QByteArrayView added = QByteArrayView(saved).sliced(prefix, saved.size() - prefix - suffix);
        check(!removed.contains('\n') && !removed.contains('\r'), "no byte outside the owned line changes", context);
        check(removed.isEmpty() || (!added.contains('\n') && !added.contains('\r')),
              "a replaced value stays on its line", context);
        check(text::withValue(saved, owned.group, owned.key, value) == saved,
              "saving the same value again changes nothing", context);
    }
    return 0;
}
