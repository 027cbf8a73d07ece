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

// Why a text cannot be published as it stands, and what the author can write instead. UTF-8.
struct Flaw
{
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

// "name", "size", "time", "address".
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

} // namespace publish
