// The settings file on any bytes: lookups never crash, and what is written reads back (blanks trimmed, line
// breaks made blanks), whatever the file held before.
#include "common/gbk.h"
#include "settings/ini.h"

#include <cstdint>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 3)
        return 0;
    const std::string names = "abcXYZ";
    const std::string section(1, names[data[0] % names.size()]);
    const std::string key(1, names[data[1] % names.size()]);
    const std::size_t split = data[2] % (size - 2);
    const std::string content(reinterpret_cast<const char *>(data) + 3, split);
    std::string value(reinterpret_cast<const char *>(data) + 3 + split, size - 3 - split);
    settings::iniLookup(content, section, key);
    const std::string written = settings::iniAssign(content, section, key, value);
    std::string expected(common::untilZero(value));
    for (char &c : expected) {
        if (c == '\r' || c == '\n')
            c = ' ';
    }
    const auto readBack = settings::iniLookup(written, section, key);
    if (!readBack || *readBack != common::untilZero(common::trimBlanks(expected)))
        __builtin_trap();
    return 0;
}
