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

// Records of GBK fields written as UTF-8 straight into blocks, kept until sent on or cleared. A full block is
// kept as it is and a new one begun, so nothing is copied to grow; the current block stays for the next use.
class RecordWriter
{
public:
    // A whole record: each GBK field, escaped, after its UTF-8 text (separators, constant texts), and the
    // UTF-8 `end` after the last.
    struct Piece
    {
        std::string_view before;
        std::string_view gbk;
    };
    void record(std::initializer_list<Piece> pieces, std::string_view end);

    bool empty() const { return m_full.empty() && m_used == 0; }
    void sendTo(Streams &streams) const;
    void clear();

private:
    char *room(std::size_t bytes);

    std::unique_ptr<char[]> m_block; // not cleared: a writer with little to say touches few pages
    std::size_t m_capacity = 0;
    std::size_t m_used = 0;
    std::vector<std::pair<std::unique_ptr<char[]>, std::size_t>> m_full;
};

} // namespace cli
