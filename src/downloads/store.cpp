#include "downloads/store.h"

#include "common/gbk.h"
#include "download/httpanswer.h"
#include "platform/files.h"

#include <array>
#include <cerrno>
#include <cstring>
#include <unordered_set>

namespace downloads {

namespace {

constexpr std::string_view Header = "kavo-downloads 1";
constexpr std::size_t FieldCount = 11;
constexpr std::array<std::string_view, 5> StateWords{"waiting", "running", "paused", "finished", "failed"};

void appendEscaped(std::string &out, std::string_view field)
{
    for (const char c : field) {
        switch (c) {
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
            out += c;
        }
    }
}

// Byte by byte: a GBK trail byte may be a backslash, and it was escaped the same way.
std::optional<std::string> unescaped(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] != '\\') {
            out += field[i];
            continue;
        }
        if (++i == field.size())
            return std::nullopt;
        switch (field[i]) {
        case 't':
            out += '\t';
            break;
        case 'r':
            out += '\r';
            break;
        case 'n':
            out += '\n';
            break;
        case '\\':
            out += '\\';
            break;
        default:
            return std::nullopt;
        }
    }
    return out;
}

std::optional<Item> parseLine(std::string_view line)
{
    const std::vector<std::string_view> raw = common::splitTabs(line, FieldCount);
    if (raw.size() != FieldCount)
        return std::nullopt;
    std::array<std::string, FieldCount> f;
    for (std::size_t i = 0; i < FieldCount; ++i) {
        auto field = unescaped(raw[i]);
        if (!field)
            return std::nullopt;
        f[i] = std::move(*field);
    }
    const auto id = download::parseNumber(f[0]);
    const auto state = stateOfWord(f[1]);
    const auto size = download::parseNumber(f[6]);
    const auto received = download::parseNumber(f[7]);
    const auto sha256 = f[8].empty() ? std::nullopt : common::sha256FromHex(f[8]);
    if (!id || *id == 0 || !state || f[2].empty() || f[3].empty() || !size || !received || (!f[8].empty() && !sha256))
        return std::nullopt;
    Item item;
    item.id = static_cast<std::uint64_t>(*id);
    item.state = *state;
    item.shareAddress = std::move(f[2]);
    item.folder = std::filesystem::path(f[3]);
    item.file = std::filesystem::path(f[4]);
    item.name = std::move(f[5]);
    item.size = *size;
    item.received = *received;
    item.sha256 = sha256;
    item.directLink = std::move(f[9]);
    item.reason = std::move(f[10]);
    return item;
}

} // namespace

std::string_view stateWord(State state)
{
    return StateWords[static_cast<std::size_t>(state)];
}

std::optional<State> stateOfWord(std::string_view word)
{
    for (std::size_t i = 0; i < StateWords.size(); ++i) {
        if (StateWords[i] == word)
            return static_cast<State>(i);
    }
    return std::nullopt;
}

std::string formatStore(const std::vector<Item> &items)
{
    std::string out(Header);
    out += '\n';
    for (const Item &item : items) {
        const std::string fields[FieldCount]
            = {std::to_string(item.id), std::string(stateWord(item.state)), item.shareAddress, item.folder.string(),
                item.file.string(), item.name, std::to_string(item.size), std::to_string(item.received),
                item.sha256 ? common::toHex(*item.sha256) : std::string(), item.directLink, item.reason};
        for (std::size_t i = 0; i < FieldCount; ++i) {
            if (i > 0)
                out += '\t';
            appendEscaped(out, fields[i]);
        }
        out += '\n';
    }
    return out;
}

StoreContents parseStore(std::string_view text)
{
    StoreContents contents;
    std::size_t skipped = 0;
    bool headed = false;
    std::unordered_set<std::uint64_t> ids;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, end - start);
        start = end + 1;
        if (!headed && line == Header) {
            headed = true;
            continue;
        }
        if (line.empty())
            continue;
        auto item = parseLine(line);
        if (!item || !ids.insert(item->id).second)
            ++skipped;
        else
            contents.items.push_back(std::move(*item));
    }
    if (!headed && !text.empty())
        contents.problem = common::gbk("下载列表文件的开头不对");
    if (skipped > 0) {
        if (!contents.problem.empty())
            contents.problem += common::gbk("；");
        contents.problem
            += common::gbk("下载列表文件中有 ") + std::to_string(skipped) + common::gbk(" 行读不懂，已跳过");
    }
    return contents;
}

} // namespace downloads

namespace downloads {

namespace {

// Far more than any list of downloads needs; a larger file is not ours.
constexpr std::size_t MaxStoreBytes = 16u << 20;

} // namespace

std::filesystem::path storeFile(const std::filesystem::path &dataFolder)
{
    return dataFolder / "下载列表";
}

void markGoneFiles(std::vector<Item> &items)
{
    for (Item &item : items) {
        std::error_code error;
        if (item.state == State::Finished && !std::filesystem::exists(item.file, error)) {
            item.state = State::Failed;
            item.reason = common::gbk("下载好的文件已不在原处（被移走或删除）");
        }
    }
}

StoreContents readStore(const std::filesystem::path &store)
{
    const auto bytes = platform::readWhole(store, {MaxStoreBytes});
    if (!bytes.has_value()) {
        switch (bytes.error().kind) {
        case platform::FileError::Kind::Missing:
            return {};
        case platform::FileError::Kind::NotAFile:
            return {{}, common::gbk("下载列表文件不是普通文件")};
        case platform::FileError::Kind::TooLarge:
            return {{}, common::gbk("下载列表文件太大")};
        default:
            return {{}, common::gbk("下载列表文件读不出来：") + common::gbkFromUtf8(bytes.error().describe())};
        }
    }
    StoreContents contents = parseStore(*bytes);
    markGoneFiles(contents.items);
    return contents;
}

} // namespace downloads
