#include "common/bytescan.h"

#include <gtest/gtest.h>
#include <random>
#include <string>

namespace bytescan = common::bytescan;

TEST(ByteScan, BlockScansAgreeWithThePlainLoops)
{
    // Texts of every length around the block size, each special byte at every place, read at every offset.
    std::mt19937 random(23);
    const std::string alphabet = std::string("abz ~(-)\t\r\n\\\x1F\x7F\x80\x81\xA3\xFF", 18) + std::string(1, '\0');
    for (int round = 0; round < 20000; ++round) {
        std::string text(random() % 70, ' ');
        const bool rare = round % 2 == 0; // long plain runs, as in real text, or special bytes everywhere
        for (char &c : text)
            c = rare && random() % 20 != 0 ? 'a' : alphabet[random() % alphabet.size()];
        const std::size_t from = random() % (text.size() + 1);
        const std::string_view view = std::string_view(text).substr(from);
        SCOPED_TRACE(testing::PrintToString(text) + " from " + std::to_string(from));
        ASSERT_EQ(bytescan::plainAsciiPrefix(view), bytescan::scalar::plainAsciiPrefix(view));
        std::string copied(view.size(), '?');
        const std::size_t plain = bytescan::copyPlainAsciiPrefix(view, copied.data());
        ASSERT_EQ(plain, bytescan::scalar::plainAsciiPrefix(view));
        ASSERT_EQ(copied.substr(0, plain), view.substr(0, plain));
        ASSERT_EQ(bytescan::findEither(text, '(', ')', from), bytescan::scalar::findEither(text, '(', ')', from));
        ASSERT_EQ(
            bytescan::findEither(text, '\x81', '\x81', from), bytescan::scalar::findEither(text, '\x81', '\x81', from));
    }
}

TEST(ByteScan, PlainAsciiStopsAtControlBytesBackslashesAndHighBytes)
{
    const struct
    {
        std::string text;
        std::size_t plain;
    } cases[] = {
        {"", 0},
        {"abc", 3},
        {"ab\tc", 2},
        {"a\\b", 1},
        {"ab\x80", 2},
        {"\xFF", 0},
        {" ~\x7F", 3},
        {std::string(40, 'x') + "\n", 40},
        {std::string(33, 'x'), 33},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(testing::PrintToString(row.text));
        EXPECT_EQ(bytescan::plainAsciiPrefix(row.text), row.plain);
        EXPECT_EQ(bytescan::scalar::plainAsciiPrefix(row.text), row.plain);
    }
}
