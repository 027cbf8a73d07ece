#include "download/prefixhasher.h"
#include "support/tempdir.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <random>
#include <unistd.h>

using namespace download;

namespace {

std::string someBytes(std::size_t size)
{
    std::mt19937 random(7);
    std::string bytes(size, '\0');
    for (char &c : bytes)
        c = static_cast<char>(random());
    return bytes;
}

} // namespace

TEST(PrefixHasher, HashesStretchesWrittenInAnyOrderOnceTheyJoinThePrefix)
{
    TempDir dir;
    const std::string data = someBytes(5 * 1024 * 1024 + 3);
    const std::int64_t size = static_cast<std::int64_t>(data.size());
    const struct
    {
        const char *name;
        std::vector<std::pair<std::int64_t, std::int64_t>> writes; // offset, size
    } cases[] = {
        {"in order", {{0, 1000}, {1000, size - 1000}}},
        {"back to front", {{size / 2, size - size / 2}, {size / 4, size / 2 - size / 4}, {0, size / 4}}},
        {"overlapping and repeated", {{100, 500}, {300, size - 300}, {100, 500}, {0, 150}}},
        {"one byte last", {{1, size - 1}, {0, 1}}},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        const auto path = dir.path() / "file";
        writeFile(path, data);
        const int fd = ::open(path.c_str(), O_RDONLY);
        ASSERT_GE(fd, 0);
        {
            PrefixHasher hasher(fd);
            for (const auto &[offset, bytes] : row.writes)
                hasher.written(offset, bytes);
            const auto digest = hasher.finish(size);
            ASSERT_TRUE(digest.has_value());
            EXPECT_EQ(digest.value(), common::sha256(data));
        }
        ::close(fd);
    }
}

TEST(PrefixHasher, AResetForgetsTheOldVersionAndAGapIsNoDigest)
{
    TempDir dir;
    const auto path = dir.path() / "file";
    const std::string data = someBytes(3 * 1024 * 1024);
    const std::int64_t size = static_cast<std::int64_t>(data.size());
    writeFile(path, data);
    const int fd = ::open(path.c_str(), O_RDONLY);
    ASSERT_GE(fd, 0);
    {
        PrefixHasher hasher(fd);
        hasher.written(0, size / 2);
        hasher.reset();
        hasher.written(0, size);
        const auto digest = hasher.finish(size);
        ASSERT_TRUE(digest.has_value());
        EXPECT_EQ(digest.value(), common::sha256(data));
    }
    {
        PrefixHasher hasher(fd);
        hasher.written(0, 10);
        hasher.written(20, size - 20);
        const auto digest = hasher.finish(size);
        ASSERT_FALSE(digest.has_value());
        EXPECT_EQ(digest.error().kind, DownloadError::Kind::Checksum);
    }
    ::close(fd);
}
