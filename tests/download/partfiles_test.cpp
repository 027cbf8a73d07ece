#include "common/gbk.h"
#include "download/partfiles.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace download;

namespace {

const auto keepGoing = [] { return true; };

} // namespace

TEST(PartFiles, ALeftoverIsResumedOnlyWhenItsSizeIsTheRecordsTotal)
{
    const struct
    {
        const char *name;
        std::size_t partBytes;
        bool resumed;
        const char *claimed;
    } cases[] = {
        {"the size the record names", 1000, true, "short.bin"},
        {"cut short", 10, false, "short(1).bin"},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        TempDir dir;
        ControlRecord record{"http://h/short.bin", {}, {{0, 10}}, {""}};
        record.version.total = 1000;
        writeFile(dir.path() / "short.bin.part", std::string(row.partBytes, 'x'));
        writeFile(dir.path() / "short.bin.part.ctl", formatControl(record));
        const auto files = claimPartFiles(dir.path() / "short.bin", "http://h/short.bin", keepGoing);
        ASSERT_TRUE(files.has_value());
        EXPECT_EQ(files->resumed.has_value(), row.resumed);
        EXPECT_EQ(files->target, dir.path() / row.claimed);
    }
}

TEST(PartFiles, ALongNameThatIsTakenGetsItsCounter)
{
    TempDir dir;
    std::string chinese;
    for (int i = 0; i < 84; ++i)
        chinese += "软";
    const auto first = claimPartFiles(dir.path() / (chinese + ".zip"), "http://h/a", keepGoing);
    ASSERT_TRUE(first.has_value());
    const auto second = claimPartFiles(dir.path() / (chinese + ".zip"), "http://h/a", keepGoing);
    ASSERT_TRUE(second.has_value()) << common::utf8FromGbk(second.error().detail);
    const std::string name = second->target.filename().native();
    EXPECT_EQ(name, first->target.stem().native() + "(1).zip");
    EXPECT_LE(name.size() + std::string(ControlTempSuffix).size(), 255u);
}

// A download's disk error says what the download adds (the folder) and otherwise the program's words for any
// file error, never the system's own wording, which follows the locale.
TEST(PartFiles, DiskErrorsSayTheReasonInTheProgramsWords)
{
    const struct
    {
        int errnum;
        DownloadError::Kind kind;
        std::string detail;
    } cases[] = {
        {ENOSPC, DownloadError::Kind::Disk, "磁盘已满"},
        {EROFS, DownloadError::Kind::Disk, "磁盘是只读的"},
        {EACCES, DownloadError::Kind::Disk, "没有写入这个文件夹的权限"},
        {ENOENT, DownloadError::Kind::NameRefused, "保存的文件夹不存在"},
        {ENAMETOOLONG, DownloadError::Kind::NameRefused, "路径太长"},
        {ENOLCK, DownloadError::Kind::Disk, "系统错误（错误码 " + std::to_string(ENOLCK) + "）"},
    };
    for (const auto &row : cases) {
        const DownloadError error = diskError(row.errnum);
        const std::string detail = common::utf8FromGbk(error.detail);
        SCOPED_TRACE(detail);
        EXPECT_EQ(error.kind, row.kind);
        EXPECT_EQ(detail, row.detail);
    }
}
