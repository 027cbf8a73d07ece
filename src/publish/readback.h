#pragma once

#include "catalog/category.h"
#include "catalog/loader.h"
#include "common/result.h"

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the program's own readers would not give back exactly, found before a catalog goes online. Source texts
// are UTF-8; the values checked are GBK, as the program holds them. Pure; thread-safe.
namespace publish {

// Why a text cannot be published as it stands, and what the author can write instead. The texts are UTF-8, in
// the program's words; the kind says which flaw it is.
struct Flaw
{
    enum class Kind
    {
        NotUtf8, // a byte that is not UTF-8
        NoGbkForm, // a character that GBK has no form for
        ZeroByte, // where the program's texts end
        Hyphen, // a "-", where a value would end: write "－" (in an address: "%2D")
        OpeningParenthesis, // a "(", where a new record would start: write "（" (in an address: "%28")
        ClosingParenthesis, // a ")", where the record would end: write "）" (in an address: "%29")
        DelimiterInHost, // a "-", "(" or ")" in the host name of an address, which nothing can escape
        KeyOfLaterField, // the key of a field written after the value, which the load would read from there
        RowCount, // the list would hold other than one row for the record
        ReadsBackDifferently, // the program would read another value back; nothing to suggest
        FieldCount, // a source line without 4 or 5 tab-separated fields
        NotSha256, // a fifth field that is not 64 hex digits
        ChecksumKeyInValue, // "SHA256：" in a value, which the checksum reader would take
        AdvertisementLabelInNotice, // "广告：" in the notice, where the advertisement would be read from
        SecondAdvertisementLine, // the advertisement box shows one line
        MissingSource, // a source file that a publish needs
        StrayTable, // a ".tsv" file that names no category
        SourcesNotAFolder, // the sources' folder is not a folder
        NoCategoryPlaceholder, // an address template without "{category}"
        NotHttp, // an address that starts with neither http:// nor https://
        BlankInAddress, // a blank or a control character in an address
        NonAsciiInAddress, // characters that would go on the wire as GBK bytes
        HyphenInAddress, // a "-" in a list's address, where the manifest read would end it
        BadBase, // a --base address with a character that ends it or breaks the pages it is written into
        EntryNotReadBack, // the manifest page would not give back a category's entry
        StaleSignature, // an unsigned publish would leave the signature of the page before
        VersionLost, // a published list whose version the manifest page no longer gives
        FileFailure // a file or folder could not be read or changed: see Problem::failure
    };
    Kind kind = Kind::ReadsBackDifferently;
    std::string reason;
    std::string fix; // empty when there is nothing to suggest

    bool operator==(const Flaw &) const = default;
};

// The GBK form of a UTF-8 source text, or a flaw that names its first byte that is not UTF-8 or its first
// character that GBK has no form for.
common::Result<std::string, Flaw> gbkFromSource(std::string_view utf8);

// The four values of a catalog record, GBK, in the order a list line carries them.
struct SourceRecord
{
    std::string name;
    std::string size;
    std::string time;
    std::string address;
    std::string sha256; // the file's SHA-256 as 64 lower-case hex digits; empty when the author gave none

    bool operator==(const SourceRecord &) const = default;
};

enum class Field
{
    Name,
    Size,
    Time,
    Address
};

// "软件名称", "文件大小", "分享时间", "下载地址": the captions of the catalog's columns. UTF-8.
const char *fieldName(Field field);

// One line of a category list file: "(" then each key of `category` with its value and a "-", then the checksum
// field when the record has one, then ")" CR LF.
std::string listLine(const SourceRecord &record, const catalog::Category &category);

// The row the category load makes of `record`.
catalog::CatalogItem rowOf(const SourceRecord &record, const catalog::Category &category);

struct FieldFlaw
{
    Field field;
    Flaw flaw;
};

// Why the category load would not read `record` back from its list line: a "-", "(" or ")" or a zero byte in
// a value, or a value that holds the key of a field written after it (the load takes each key's first
// occurrence). As a last resort, the value the load would read instead. Empty when it reads back exactly.
std::vector<FieldFlaw> recordFlaws(const SourceRecord &record, const catalog::Category &category);

// A "-" in a manifest text, where the manifest read would cut it, with the full-width "－" as the fix.
std::optional<Flaw> hyphenFlaw(std::string_view gbkText);

// A zero byte, where the program's texts end.
std::optional<Flaw> zeroByteFlaw(std::string_view gbkText);

// The program would read `gbkValue` instead of what was written; there is nothing to suggest.
Flaw readsBackAs(std::string_view gbkValue);

} // namespace publish
