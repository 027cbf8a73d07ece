#include "publish/sources.h"

#include "common/gbk.h"
#include "common/sha256.h"
#include "platform/paths.h"
#include "publish/filebatch.h"
#include "update/manifest.h"

#include <algorithm>
#include <optional>

namespace publish {

using common::gbk;

std::string describe(const Problem &problem)
{
    std::string text = problem.file;
    if (problem.line > 0)
        text += ":" + std::to_string(problem.line);
    text += ": ";
    if (!problem.field.empty())
        text += problem.field + ": ";
    text += problem.flaw.reason;
    if (!problem.flaw.fix.empty())
        text += "; " + problem.flaw.fix;
    return text;
}

Problem problemOf(const PublishError &error)
{
    return Problem{error.path.string(), 0, "", {Flaw::Kind::FileFailure, describe(error), ""}, error.kind};
}

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::size_t npos = std::string_view::npos;

// Calls `visit(number, line)` for every line of a source text, numbered from 1, without its line end.
template <typename Visit> void forEachLine(std::string_view text, Visit &&visit)
{
    if (text.starts_with(ByteOrderMark))
        text.remove_prefix(ByteOrderMark.size());
    for (int number = 1; !text.empty(); ++number) {
        const std::size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == npos ? std::string_view() : text.substr(end + 1);
        if (line.ends_with('\r'))
            line.remove_suffix(1);
        visit(number, line);
    }
}

bool isBlank(std::string_view line)
{
    return line.find_first_not_of(" \t") == npos;
}

// A record from the four fields of a line; nothing when a field is not text the program can hold.
std::optional<SourceRecord> recordFrom(
    const std::vector<std::string_view> &fields, const std::string &file, int line, Problems &problems)
{
    SourceRecord record;
    const std::array<std::string *, 4> values{&record.name, &record.size, &record.time, &record.address};
    bool encoded = true;
    for (std::size_t i = 0; i < values.size(); ++i) {
        common::Result<std::string, Flaw> converted = gbkFromSource(fields[i]);
        if (converted.has_value()) {
            *values[i] = std::move(converted.value());
        } else {
            problems.push_back({file, line, fieldName(static_cast<Field>(i)), converted.error()});
            encoded = false;
        }
    }
    return encoded ? std::optional(std::move(record)) : std::nullopt;
}

// The fifth field: the file's SHA-256, which the program checks the download against. The reader of the
// checksum takes the first "SHA256：" of a record, so no other value may hold it.
bool readChecksum(std::string_view hex, SourceRecord &record, const std::string &file, int line, Problems &problems)
{
    const std::optional<common::Sha256Digest> digest = common::sha256FromHex(hex);
    if (!digest) {
        problems.push_back({file, line, ChecksumField,
            {Flaw::Kind::NotSha256, "不是 SHA-256（64 个十六进制数字）",
                "写上 sha256sum 对这个文件的输出，或者不写这一栏"}});
        return false;
    }
    for (const std::string *value : {&record.name, &record.size, &record.time, &record.address}) {
        if (value->find(catalog::checksumKey()) != std::string::npos) {
            problems.push_back({file, line, "",
                {Flaw::Kind::ChecksumKeyInValue, "有一个值含有 \"SHA256：\"，会被当成校验值读取",
                    "把其中的冒号改成半角的 \":\""}});
            return false;
        }
    }
    record.sha256 = common::toHex(*digest);
    return true;
}

struct NumberedLine
{
    int number;
    std::string text; // GBK
};

// The GBK lines of the notice or the advertisement, blank lines at either end dropped. A "-" would end the
// text on the manifest page.
std::vector<NumberedLine> manifestTextLines(
    std::string_view text, const std::string &file, const char *field, Problems &problems)
{
    std::vector<NumberedLine> lines;
    forEachLine(text, [&](int number, std::string_view line) {
        common::Result<std::string, Flaw> converted = gbkFromSource(line);
        if (!converted.has_value()) {
            problems.push_back({file, number, field, converted.error()});
            return;
        }
        for (const std::optional<Flaw> &flaw : {zeroByteFlaw(converted.value()), hyphenFlaw(converted.value())}) {
            if (flaw)
                problems.push_back({file, number, field, *flaw});
        }
        lines.push_back({number, std::move(converted.value())});
    });
    while (!lines.empty() && isBlank(lines.back().text))
        lines.pop_back();
    std::size_t first = 0;
    while (first < lines.size() && isBlank(lines[first].text))
        ++first;
    lines.erase(lines.begin(), lines.begin() + static_cast<std::ptrdiff_t>(first));
    return lines;
}

// The text of a source file, or nothing with a problem when it is missing or cannot be read.
std::optional<std::string> readSource(const std::filesystem::path &file, const char *missingFix, Problems &problems)
{
    common::Result<std::optional<std::string>, PublishError> text = readExisting(file);
    if (!text.has_value())
        problems.push_back(problemOf(text.error()));
    else if (!text.value())
        problems.push_back({file.string(), 0, "", {Flaw::Kind::MissingSource, "不存在", missingFix}});
    return text.has_value() ? std::move(text.value()) : std::nullopt;
}

// A ".tsv" file that names no category would silently not be published: most likely a misspelt name.
void reportStrayTable(const std::filesystem::path &file, Problems &problems)
{
    if (file.extension() != ".tsv")
        return;
    const std::string stem = platform::gbkPath(file.stem());
    const bool known = std::any_of(catalog::categories().begin(), catalog::categories().end(),
        [&stem](const catalog::Category &category) { return category.name == stem; });
    if (!known)
        problems.push_back({file.string(), 0, "",
            {Flaw::Kind::StrayTable, "不是以分类命名的，因此不会被发布",
                "请命名为 软件下载.tsv、源码下载.tsv、模块下载.tsv、电脑技术.tsv 或 常用软件.tsv"}});
}

// A folder that cannot be listed is a problem of its own: its stray tables would otherwise go unseen.
// The folder cannot be listed or looked at: the system's reason.
Problem unreadable(const std::filesystem::path &folder, const std::error_code &error)
{
    return problemOf(
        PublishError{PublishError::Kind::Unreadable, folder, {platform::FileError::Kind::System, error.value()}});
}

void reportStrayTables(const std::filesystem::path &src, Problems &problems)
{
    std::error_code error;
    for (std::filesystem::directory_iterator entry(src, error), end; !error && entry != end; entry.increment(error))
        reportStrayTable(entry->path(), problems);
    if (error)
        problems.push_back(unreadable(src, error));
}

} // namespace

std::vector<SourceRecord> parseCategorySource(
    std::string_view text, const catalog::Category &category, const std::string &file, Problems &problems)
{
    std::vector<SourceRecord> records;
    forEachLine(text, [&](int number, std::string_view line) {
        if (isBlank(line) || line.starts_with('#'))
            return;
        const std::vector<std::string_view> fields = common::splitTabs(line, 5);
        if (fields.size() != 4 && fields.size() != 5) {
            const std::string count = fields.size() > 5 ? "多于 5" : "有 " + std::to_string(fields.size());
            problems.push_back({file, number, "",
                {Flaw::Kind::FieldCount, count + " 栏（以制表符分隔），应为 4 或 5 栏",
                    "依次写名称、大小、时间、地址，还可以加上文件的 SHA-256，各栏之间用一个制表符分隔"}});
            return;
        }
        std::optional<SourceRecord> record = recordFrom(fields, file, number, problems);
        if (!record)
            return;
        if (fields.size() == 5 && !readChecksum(fields[4], *record, file, number, problems))
            return;
        for (const FieldFlaw &flaw : recordFlaws(*record, category))
            problems.push_back({file, number, fieldName(flaw.field), flaw.flaw});
        records.push_back(std::move(*record));
    });
    return records;
}

std::string parseNotice(std::string_view text, const std::string &file, Problems &problems)
{
    std::string notice;
    const std::string &advertisementLabel = update::advertisementLabel();
    for (const NumberedLine &line : manifestTextLines(text, file, NoticeField, problems)) {
        // The page carries the advertisement after the notice, and the program reads a label's first occurrence.
        if (common::findText(line.text, advertisementLabel) != common::NotFound)
            problems.push_back({file, line.number, NoticeField,
                {Flaw::Kind::AdvertisementLabelInNotice, "含有 \"广告：\"，程序会从这里读取广告",
                    "把其中的冒号改成半角的 \":\"："
                        + common::utf8FromGbk(common::replaceAll(line.text, advertisementLabel, gbk("广告:")))}});
        notice += (notice.empty() ? "" : "\r\n") + line.text;
    }
    return notice;
}

std::string parseAdvertisement(std::string_view text, const std::string &file, Problems &problems)
{
    const std::vector<NumberedLine> lines = manifestTextLines(text, file, AdvertisementField, problems);
    if (lines.size() > 1)
        problems.push_back({file, lines[1].number, AdvertisementField,
            {Flaw::Kind::SecondAdvertisementLine, "是第二行，但广告栏只显示一行", "把这几行合成一行"}});
    return lines.empty() ? std::string() : lines.front().text;
}

std::filesystem::path categorySource(const std::filesystem::path &src, const catalog::Category &category)
{
    return src / platform::nativePath(category.name + ".tsv");
}

std::filesystem::path noticeSource(const std::filesystem::path &src)
{
    return src / platform::nativePath(gbk("公告.txt"));
}

std::filesystem::path advertisementSource(const std::filesystem::path &src)
{
    return src / platform::nativePath(gbk("广告.txt"));
}

Sources readSources(const std::filesystem::path &src, Problems &problems)
{
    Sources sources;
    std::error_code error;
    const bool folder = std::filesystem::is_directory(src, error);
    if (error && error != std::errc::no_such_file_or_directory) {
        // It may well be a folder: the system would not say, and why is what the author needs to know.
        problems.push_back(unreadable(src, error));
        return sources;
    }
    if (!folder) {
        problems.push_back({src.string(), 0, "",
            {Flaw::Kind::SourcesNotAFolder, error ? "不存在" : "不是文件夹", "请给出存放分类源文件的文件夹"}});
        return sources;
    }
    reportStrayTables(src, problems);
    for (const catalog::Category &category : catalog::categories()) {
        const std::filesystem::path file = categorySource(src, category);
        if (const auto text = readSource(file, "请创建它；空文件会发布一个空列表", problems))
            sources.records[static_cast<std::size_t>(category.number - 1)]
                = parseCategorySource(*text, category, file.string(), problems);
    }
    if (const auto text = readSource(noticeSource(src), "请创建它；空文件表示不发布公告", problems))
        sources.notice = parseNotice(*text, noticeSource(src).string(), problems);
    const std::filesystem::path advertisement = advertisementSource(src);
    if (const auto text = readSource(advertisement, "请创建它；空文件表示不发布广告", problems))
        sources.advertisement = parseAdvertisement(*text, advertisement.string(), problems);
    return sources;
}

} // namespace publish
