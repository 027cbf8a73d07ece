#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The command-line companion's output form: UTF-8, one record per line, fields separated by a TAB; inside a
// field a TAB, CR, LF and backslash are written as \t, \r, \n and \\. Fields arrive as GBK; a byte that is the
// second of a double-byte character is part of that character and never escaped. Pure; thread-safe.
namespace cli {

// Part of a record: `before` (UTF-8: a separator or a constant text), then the GBK field `gbk`.
struct RecordPiece
{
    std::string_view before;
    std::string_view gbk;
};

// Appends a record's pieces to `out`, each field escaped and converted, then the UTF-8 `end`.
void appendUtf8Record(std::string &out, std::initializer_list<RecordPiece> pieces, std::string_view end);

// One whole line of GBK fields: escaped, converted, joined by TABs and ended by a line break.
std::string utf8Record(std::initializer_list<std::string_view> fields);

} // namespace cli
