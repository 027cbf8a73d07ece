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

// Records of GBK fields written as UTF-8 straight into a block. Given `streams`, a full block goes there at
// once and the rest when the writer is flushed or destroyed; without, the writer keeps its full blocks as
// they are (nothing is copied to grow) until it sends them on or is cleared, and its current block stays for
// the next use.
class RecordWriter
{
public:
    RecordWriter() = default;
    explicit RecordWriter(Streams &streams);
    ~RecordWriter();
    RecordWriter(const RecordWriter &) = delete;
    RecordWriter &operator=(const RecordWriter &) = delete;

    // One GBK field's text, escaped, after what the current field holds.
    void field(std::string_view gbk);
    // A whole record at once: each GBK field, escaped, after its UTF-8 text (separators, constant texts), and
    // `end` after the last. The same as raw() and field() in turn, with one look at the room left.
    struct Piece
    {
        std::string_view before;
        std::string_view gbk;
    };
    void record(std::initializer_list<Piece> pieces, std::string_view end);
    // UTF-8 text as it is, nothing escaped: separators and texts decoded once beforehand.
    void raw(std::string_view utf8);
    void tab() { raw("\t"); }
    void endRecord() { raw("\n"); }
    void flush();

    // What a writer without streams holds: whether it holds nothing, and sending it on.
    bool empty() const { return m_full.empty() && m_used == 0; }
    void sendTo(Streams &streams) const;
    void clear();

private:
    char *room(std::size_t bytes);

    Streams *m_streams = nullptr;
    std::unique_ptr<char[]> m_block; // not cleared: a writer with little to say touches few pages
    std::size_t m_capacity = 0;
    std::size_t m_used = 0;
    std::vector<std::pair<std::unique_ptr<char[]>, std::size_t>> m_full; // kept, without streams
};

} // namespace cli
