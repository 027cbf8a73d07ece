#include "cli/records.h"

#include "common/gbk.h"

#include <array>

namespace cli {

namespace {

constexpr std::array<bool, 256> EscapedBytes = [] {
    std::array<bool, 256> table{};
    for (const unsigned char c : {'\t', '\r', '\n', '\\'})
        table[c] = true;
    return table;
}();

bool needsEscape(std::string_view field)
{
    bool found = false;
    for (const char c : field)
        found |= EscapedBytes[static_cast<unsigned char>(c)];
    return found;
}

} // namespace

void appendField(std::string &out, std::string_view field)
{
    // Most fields hold nothing to escape and go in whole.
    if (!needsEscape(field)) {
        out.append(field);
        return;
    }
    for (std::size_t at = 0; at < field.size();) {
        const std::size_t width = common::charWidth(field, at);
        if (width == 2) {
            out.append(field.substr(at, 2));
        } else {
            switch (field[at]) {
            case '\t':
                out += "\\t";
                break;
            case '\r':
                out += "\\r";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\\':
                out += "\\\\";
                break;
            default:
                out += field[at];
            }
        }
        at += width;
    }
}

void appendRecord(std::string &out, std::initializer_list<std::string_view> fields)
{
    bool first = true;
    for (const std::string_view field : fields) {
        if (!first)
            out += '\t';
        first = false;
        appendField(out, field);
    }
    out += '\n';
}

} // namespace cli
