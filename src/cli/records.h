#pragma once

#include "cli/streams.h"

#include <initializer_list>
#include <string>
#include <string_view>

// The command-line companion's output form: one record per line, fields separated by a TAB; inside a field a
// TAB, CR, LF and backslash are written as \t, \r, \n and \\. The functions are pure and thread-safe.
namespace cli {

// Appends one record of GBK fields to `out` (GBK), escaped character by character so that the second byte of
// a double-byte character is never taken for a backslash.
void appendRecord(std::string &out, std::initializer_list<std::string_view> fields);

// Appends one field, escaped, without separator.
void appendField(std::string &out, std::string_view field);

// Records of GBK fields written as UTF-8 straight into a block, which goes to `streams` whenever it fills and
// when the writer is flushed or destroyed. For output of any length without holding it all.
class RecordWriter
{
public:
    explicit RecordWriter(Streams &streams);
    ~RecordWriter();
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // One GBK field's text, escaped, after what the current field holds.
    void field(std::string_view gbk);
    // UTF-8 text as it is, nothing escaped: separators and texts decoded once beforehand.
    void raw(std::string_view utf8);
    void tab() { raw("\t"); }
    void endRecord() { raw("\n"); }
    void flush();

private:
    char *room(std::size_t bytes);

    Streams &m_streams;
    std::string m_block;
    std::size_t m_used = 0;
};

} // namespace cli
