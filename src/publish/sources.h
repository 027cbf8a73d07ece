#pragma once

#include "catalog/category.h"
#include "publish/publisherror.h"
#include "publish/readback.h"

#include <array>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// The author's catalog sources, all UTF-8: one file of tab-separated records per category, "<category>.tsv",
// and the notice and the advertisement of the manifest page in "公告.txt" and "广告.txt". Pure apart from
// readSources; thread-safe.
namespace publish {

// A flaw where the author can find it. UTF-8.
struct Problem
{
    std::string file; // the path as the author gave it, or the option that holds the text ("--address")
    int line = 0; // 1-based; 0 when the problem is the file as a whole
    std::string field; // fieldName(), ChecksumField, NoticeField or AdvertisementField; empty for a whole line
    Flaw flaw;
    // Set when the tree being published could not be read or changed, rather than a flaw of the sources.
    std::optional<PublishError::Kind> failure{};
};

// The field names of the texts that are not catalog values, UTF-8.
inline constexpr const char *ChecksumField = "SHA256";
inline constexpr const char *NoticeField = "公告";
inline constexpr const char *AdvertisementField = "广告";

// The problem that `error` makes: its path, and its reason as the flaw.
Problem problemOf(const PublishError &error);

using Problems = std::vector<Problem>;

// "FILE:LINE: FIELD: REASON; FIX", leaving out the parts that are empty.
std::string describe(const Problem &problem);

struct Sources
{
    std::array<std::vector<SourceRecord>, catalog::CategoryCount> records; // by category number - 1
    std::string notice; // GBK, lines joined with CR LF
    std::string advertisement; // GBK, one line
};

// The records of one category's source text. Lines end in LF or CR LF; a UTF-8 byte-order mark at the start is
// dropped; blank lines (blanks and tabs only) and lines that start with "#" are skipped. Every other line holds
// name, size, time and address, separated by tabs. Whatever would not read back from the list goes to
// `problems`, named after `file`; the records returned are then incomplete.
std::vector<SourceRecord> parseCategorySource(
    std::string_view text, const catalog::Category &category, const std::string &file, Problems &problems);

// The notice from its source text: its lines joined with CR LF, blank lines at either end dropped.
std::string parseNotice(std::string_view text, const std::string &file, Problems &problems);

// The advertisement from its source text: one line, blank lines at either end dropped.
std::string parseAdvertisement(std::string_view text, const std::string &file, Problems &problems);

std::filesystem::path categorySource(const std::filesystem::path &src, const catalog::Category &category);
std::filesystem::path noticeSource(const std::filesystem::path &src); // SRC/公告.txt
std::filesystem::path advertisementSource(const std::filesystem::path &src); // SRC/广告.txt

// Reads the folder `src`: the five category files, the notice and the advertisement must be there, and every
// ".tsv" file in it must be named after a category.
Sources readSources(const std::filesystem::path &src, Problems &problems);

} // namespace publish
