#pragma once

#include <initializer_list>
#include <string>
#include <string_view>

// The command-line companion's output form: one record per line, fields separated by a TAB; inside a field a
// TAB, CR, LF and backslash are written as \t, \r, \n and \\. Pure; thread-safe.
namespace cli {

// Appends one record of GBK fields to `out` (GBK), escaped character by character so that the second byte of
// a double-byte character is never taken for a backslash.
void appendRecord(std::string &out, std::initializer_list<std::string_view> fields);

// Appends one field, escaped, without separator.
void appendField(std::string &out, std::string_view field);

} // namespace cli
