#include "download/byterange_print.h"
#include "download/disksink.h"
#include "platform/files.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

using namespace download;

namespace {

PartFiles claimed(const TempDir &dir)
{
    auto files = claimPartFiles(dir.path() / "file.bin", "http://127.0.0.1/file.bin", [] { return true; });
    EXPECT_TRUE(files.has_value());
    return std::move(files.value());
}

void write(DiskSink &sink, std::int64_t offset, std::string_view bytes)
{
    DiskSink::Block block = DiskSink::newBlock();
    ASSERT_TRUE(sink.add(block, offset, bytes).has_value());
    ASSERT_TRUE(sink.flush(block).has_value());
}

} // namespace

TEST(DiskSink, ResumesOnlyTheStretchesWhoseBytesStillCheck)
{
    const TempDir dir;
    PartFiles files = claimed(dir);
    const FileVersion version{13, "\"v1\"", {}, {}};
    ControlRecord record;
    {
        DiskSink sink(files, false);
        ASSERT_TRUE(sink.setLength(13).has_value());
        write(sink, 0, "abcdef");
        write(sink, 10, "xyz");
        record = sink.record("http://127.0.0.1/file.bin", version);
    }
    ASSERT_EQ(record.finished, (std::vector<ByteRange>{{0, 6}, {10, 13}}));

    ASSERT_TRUE(platform::writeAt(files.fd.get(), "B", 1).has_value()); // the first stretch no longer checks
    DiskSink resumed(files, false);
    EXPECT_TRUE(resumed.resume(record));
    EXPECT_EQ(resumed.believedBytes(), 3);
    EXPECT_EQ(resumed.holes(13), (std::vector<ByteRange>{{0, 10}}));
}

TEST(DiskSink, ARecordOfTheWholeFileKeepsItsLastStretchBack)
{
    const TempDir dir;
    PartFiles files = claimed(dir);
    ControlRecord record;
    {
        DiskSink sink(files, false);
        write(sink, 0, "01234");
        write(sink, 5, "56789"); // continues the stretch
        record = sink.record("http://127.0.0.1/file.bin", {10, {}, {}, {}});
    }
    ASSERT_EQ(record.finished, (std::vector<ByteRange>{{0, 10}}));
    DiskSink resumed(files, false);
    EXPECT_FALSE(resumed.resume(record)); // an answer of this run must vouch for the version first
    EXPECT_EQ(resumed.holes(10), (std::vector<ByteRange>{{0, 10}}));
}

TEST(DiskSink, BytesTheDiskRefusesAreNeverRecorded)
{
    const TempDir dir;
    PartFiles files = claimed(dir);
    files.fd = std::move(platform::openForReading(files.part).value()); // writes fail
    DiskSink sink(files, false);
    DiskSink::Block block = DiskSink::newBlock();
    ASSERT_TRUE(sink.add(block, 0, "abc").has_value()); // a small block waits in memory
    const auto flushed = sink.flush(block);
    ASSERT_FALSE(flushed.has_value());
    EXPECT_EQ(flushed.error().kind, DownloadError::Kind::Disk);
    EXPECT_TRUE(sink.record("http://127.0.0.1/file.bin", {3, {}, {}, {}}).finished.empty());
}

// Pieces are written in any order: a write that only touches a recorded stretch leaves it in the record, and
// one that overwrites part of it takes it out.
TEST(DiskSink, AWriteDropsOnlyTheStretchesItOverlaps)
{
    const struct
    {
        const char *name;
        std::int64_t offset;
        std::vector<ByteRange> finished;
    } cases[] = {
        {"ends where the stretch begins", 7, {{7, 10}, {10, 13}}},
        {"reaches into the stretch", 8, {{8, 11}}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        const TempDir dir;
        PartFiles files = claimed(dir);
        DiskSink sink(files, false);
        write(sink, 10, "xyz");
        write(sink, row.offset, "abc");
        EXPECT_EQ(sink.record("http://127.0.0.1/file.bin", {13, {}, {}, {}}).finished, row.finished);
    }
}
