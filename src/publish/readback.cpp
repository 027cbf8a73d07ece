#include "publish/readback.h"

#include "common/gbk.h"
#include "common/gbkcodec.h"

#include <array>
#include <cstdio>
#include <span>

namespace publish {

using common::gbk;
using common::utf8FromGbk;

namespace {

std::string inQuotes(std::string_view utf8)
{
    return "\"" + std::string(utf8) + "\"";
}

std::string hex(unsigned value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

// A byte that ends or splits what the program reads, the full-width character that looks alike, and the escape
// that a web server reads as the byte itself.
struct Delimiter
{
    char ascii;
    const char *fullWidth;
    const char *escape;
    const char *effect;
    Flaw::Kind kind;
};

constexpr std::array<Delimiter, 3> Delimiters{{
    {'-', "－", "%2D", "程序会在这里结束这个值", Flaw::Kind::Hyphen},
    {'(', "（", "%28", "程序会从这里开始一条新记录", Flaw::Kind::OpeningParenthesis},
    {')', "）", "%29", "程序会在这里结束这条记录", Flaw::Kind::ClosingParenthesis},
}};

// The value with each of `delimiters` written full-width, UTF-8.
std::string withFullWidth(std::string_view value, std::span<const Delimiter> delimiters)
{
    std::string written(value);
    for (const Delimiter &delimiter : delimiters)
        written = common::replaceAll(written, std::string(1, delimiter.ascii), gbk(delimiter.fullWidth));
    return utf8FromGbk(written);
}

std::string delimiterReason(std::string_view value, const Delimiter &delimiter)
{
    std::string reason = "含有 " + inQuotes(std::string(1, delimiter.ascii)) + "，" + delimiter.effect;
    if (delimiter.ascii == '-')
        reason += "，读成 " + inQuotes(utf8FromGbk(value.substr(0, common::findByte(value, '-'))));
    return reason;
}

// The fix writes every delimiter of `fixed` full-width, so that one suggestion mends all of them.
Flaw delimiterFlaw(std::string_view value, const Delimiter &delimiter, std::span<const Delimiter> fixed)
{
    return {delimiter.kind, delimiterReason(value, delimiter),
        "改用全角的 " + inQuotes(delimiter.fullWidth) + "：" + withFullWidth(value, fixed)};
}

// The host name of an address: from after "//" to the path, query or fragment.
std::string_view hostOf(std::string_view address)
{
    const std::size_t scheme = address.find("//");
    if (scheme == std::string_view::npos)
        return {};
    const std::string_view rest = address.substr(scheme + 2);
    return rest.substr(0, rest.find_first_of("/?#"));
}

// A look-alike character would send the download elsewhere: the fix escapes every delimiter in the path and the
// query, which web servers read as the character itself. A host name cannot be escaped.
Flaw addressDelimiterFlaw(std::string_view address, const Delimiter &delimiter)
{
    if (common::findByte(hostOf(address), delimiter.ascii) != std::string_view::npos)
        return {Flaw::Kind::DelimiterInHost, delimiterReason(address, delimiter),
            "主机名中不能有 " + inQuotes(std::string(1, delimiter.ascii)) + "：请换一个主机名，或改用服务器的 IP 地址"};
    std::string escaped(address);
    for (const Delimiter &each : Delimiters)
        escaped = common::replaceAll(escaped, std::string(1, each.ascii), each.escape);
    return {delimiter.kind, delimiterReason(address, delimiter),
        "在地址中写成 " + std::string(delimiter.escape) + "：" + utf8FromGbk(escaped)};
}

std::array<std::string, 4> keysOf(const catalog::Category &category)
{
    return {category.nameKey, category.sizeKey, catalog::timeKey(), catalog::addressKey()};
}

std::array<const std::string *, 4> valuesOf(const SourceRecord &record)
{
    return {&record.name, &record.size, &record.time, &record.address};
}

std::array<const std::string *, 4> valuesOf(const catalog::CatalogItem &row)
{
    return {&row.name, &row.size, &row.time, &row.address};
}

// Every key ends in the full-width colon; with an ASCII colon it is no longer a key.
Flaw keyFlaw(std::string_view value, const std::string &key, Field owner)
{
    const std::string plain = key.substr(0, key.size() - gbk("：").size()) + ":";
    return {Flaw::Kind::KeyOfLaterField,
        "含有 " + inQuotes(utf8FromGbk(key)) + "，这是" + fieldName(owner) + "的键，程序会从这里读取"
            + fieldName(owner),
        "把其中的冒号改成半角的 \":\"：" + utf8FromGbk(common::replaceAll(value, key, plain))};
}

// The first field that the load reads differently from the record; only for what the checks above missed.
FieldFlaw readBackFlaw(
    const std::vector<catalog::CatalogItem> &rows, const SourceRecord &record, const catalog::Category &category)
{
    if (rows.size() != 1)
        return {
            Field::Name, {Flaw::Kind::RowCount, "这条记录在列表中会成为 " + std::to_string(rows.size()) + " 行", ""}};
    const catalog::CatalogItem expected = rowOf(record, category);
    const auto read = valuesOf(rows.front());
    const auto wanted = valuesOf(expected);
    std::size_t i = 0;
    while (i + 1 < read.size() && *read[i] == *wanted[i])
        ++i;
    return {static_cast<Field>(i), readsBackAs(*read[i])};
}

} // namespace

common::Result<std::string, Flaw> gbkFromSource(std::string_view utf8)
{
    std::string converted = common::encodeGbk(utf8);
    if (common::decodeGbk(converted) == utf8)
        return converted;
    for (std::size_t at = 0; at < utf8.size();) {
        const auto byte = static_cast<unsigned char>(utf8[at]);
        if (byte < 0x80) {
            ++at;
            continue;
        }
        const auto [c, length] = common::readUtf8(utf8, at);
        const std::string_view character = utf8.substr(at, length);
        if (length == 1)
            return common::unexpected(
                Flaw{Flaw::Kind::NotUtf8, "含有字节 0x" + hex(byte, 2) + "，它不是 UTF-8", "把文件存为 UTF-8"});
        if (common::decodeGbk(common::encodeGbk(character)) != character)
            return common::unexpected(Flaw{Flaw::Kind::NoGbkForm,
                inQuotes(character) + "（U+" + hex(static_cast<unsigned>(c), 4) + "）在 GBK 中没有，程序无法显示它",
                "改用 GBK 中有的字符"});
        at += length;
    }
    return converted;
}

const char *fieldName(Field field)
{
    static constexpr std::array<const char *, 4> names{"软件名称", "文件大小", "分享时间", "下载地址"};
    return names[static_cast<std::size_t>(field)];
}

std::string listLine(const SourceRecord &record, const catalog::Category &category)
{
    const auto keys = keysOf(category);
    const auto values = valuesOf(record);
    std::string line = "(";
    for (std::size_t i = 0; i < keys.size(); ++i)
        line += keys[i] + *values[i] + "-";
    if (!record.sha256.empty())
        line += catalog::checksumKey() + record.sha256 + "-";
    return line + ")\r\n";
}

catalog::CatalogItem rowOf(const SourceRecord &record, const catalog::Category &category)
{
    return {record.name, record.size, record.time, " " + record.address, category.tag};
}

std::vector<FieldFlaw> recordFlaws(const SourceRecord &record, const catalog::Category &category)
{
    const auto keys = keysOf(category);
    const auto values = valuesOf(record);
    std::vector<FieldFlaw> flaws;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const std::string &value = *values[i];
        const auto field = static_cast<Field>(i);
        if (const std::optional<Flaw> zero = zeroByteFlaw(value))
            flaws.push_back({field, *zero});
        for (const Delimiter &delimiter : Delimiters) {
            if (common::findByte(value, delimiter.ascii) == std::string_view::npos)
                continue;
            flaws.push_back({field,
                field == Field::Address ? addressDelimiterFlaw(value, delimiter)
                                        : delimiterFlaw(value, delimiter, Delimiters)});
        }
        for (std::size_t later = i + 1; later < keys.size(); ++later) {
            if (common::findText(value, keys[later]) != common::NotFound)
                flaws.push_back({field, keyFlaw(value, keys[later], static_cast<Field>(later))});
        }
    }
    if (!flaws.empty())
        return flaws;
    const std::vector<catalog::CatalogItem> rows = catalog::parseCategory(listLine(record, category), category);
    if (rows.size() != 1 || rows.front() != rowOf(record, category))
        flaws.push_back(readBackFlaw(rows, record, category));
    return flaws;
}

std::optional<Flaw> hyphenFlaw(std::string_view gbkText)
{
    if (common::findByte(gbkText, '-') == std::string_view::npos)
        return std::nullopt;
    return delimiterFlaw(gbkText, Delimiters[0], std::span(Delimiters).first(1));
}

std::optional<Flaw> zeroByteFlaw(std::string_view gbkText)
{
    if (gbkText.find('\0') == std::string_view::npos)
        return std::nullopt;
    return Flaw{Flaw::Kind::ZeroByte, "含有零字节，程序的文本会在这里结束", "把它删掉"};
}

Flaw readsBackAs(std::string_view gbkValue)
{
    return {Flaw::Kind::ReadsBackDifferently, "程序会读成 " + inQuotes(utf8FromGbk(gbkValue)), ""};
}

} // namespace publish
