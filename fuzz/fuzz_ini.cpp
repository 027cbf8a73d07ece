// The settings file on any bytes: lookups never crash; a write under names that nameProblem() lets through
// reads back (blanks trimmed, line breaks made blanks) and leaves every other entry as it read before,
// whatever the file held.
#include "common/gbk.h"
#include "settings/ini.h"

#include "oneline_oracle.h"

#include <cstdint>
#include <string>

namespace {

// Takes `count` bytes off the front of `rest`, fewer when it is shorter.
std::string take(std::string_view &rest, std::size_t count)
{
    const std::string_view piece = rest.substr(0, count);
    rest.remove_prefix(piece.size());
    return std::string(piece);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 5)
        return 0;
    std::string_view rest(reinterpret_cast<const char *>(data) + 5, size - 5);
    const std::string section = take(rest, data[0] % 6);
    const std::string key = take(rest, data[1] % 6);
    const std::string names = "abAB";
    const std::string otherSection(1, names[data[2] % names.size()]);
    const std::string otherKey(1, names[(data[2] / 4) % names.size()]);
    const std::string content = take(rest, rest.empty() ? 0 : data[3] % (rest.size() + 1));
    const std::string value(rest);
    (void)settings::iniLookup(content, section, key);
    const std::string written = settings::iniAssign(content, section, key, value);
    if (settings::nameProblem(section, settings::NameKind::Section)
        || settings::nameProblem(key, settings::NameKind::Key))
        return 0;
    const std::string expected = common::oneLine(common::untilZero(value));
    if (!isOneLineOf(expected, common::untilZero(value)))
        __builtin_trap();
    const auto readBack = settings::iniLookup(written, section, key);
    if (!readBack || *readBack != common::untilZero(common::trimBlanks(expected)))
        __builtin_trap();
    const bool sameEntry = common::equalText(otherSection, section, common::Case::IgnoreAscii)
        && common::equalText(otherKey, key, common::Case::IgnoreAscii);
    if (!sameEntry
        && settings::iniLookup(written, otherSection, otherKey) != settings::iniLookup(content, otherSection, otherKey))
        __builtin_trap();
    return 0;
}
