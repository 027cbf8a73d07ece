#pragma once

#include "cli/streams.h"

#include <initializer_list>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The command-line companion's output form: one record per line, fields separated by a TAB; inside a field a
// TAB, CR, LF and backslash are written as \t, \r, \n and \\. The functions are pure and thread-safe.
namespace cli {

// Appends one record of GBK fields to `out` (GBK), escaped character by character so that the second byte of
// a double-byte character is never taken for a backslash.
void appendRecord(std::string &out, std::initializer_list<std::string_view> fields);

// Appends one field, escaped, without separator.
void appendField(std::string &out, std::string_view field);

// Output held as the blocks it was written in, to be sent on later in order.
class HeldOutput
{
public:
    void add(std::unique_ptr<char[]> block, std::size_t size);
    bool empty() const { return m_blocks.empty(); }
    void sendTo(Streams &streams) const;

private:
    std::vector<std::pair<std::unique_ptr<char[]>, std::size_t>> m_blocks;
};

// Records of GBK fields written as UTF-8 straight into a block. A full block goes to `streams` at once, or is
// kept by `held`; so is the last one when the writer is flushed or destroyed. For output of any length.
class RecordWriter
{
public:
    explicit RecordWriter(Streams &streams);
    explicit RecordWriter(HeldOutput &held);
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

    Streams *m_streams = nullptr;
    HeldOutput *m_held = nullptr;
    std::unique_ptr<char[]> m_block; // not cleared: a writer with little to say touches few pages
    std::size_t m_capacity = 0;
    std::size_t m_used = 0;
};

} // namespace cli
