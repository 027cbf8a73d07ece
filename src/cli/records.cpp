#include "cli/records.h"

#include "common/gbk.h"

namespace cli {

namespace {

void appendEscaped(std::string &out, std::string_view field)
{
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

} // namespace

void appendRecord(std::string &out, std::initializer_list<std::string_view> fields)
{
    bool first = true;
    for (const std::string_view field : fields) {
        if (!first)
            out += '\t';
        first = false;
        appendEscaped(out, field);
    }
    out += '\n';
}

} // namespace cli
