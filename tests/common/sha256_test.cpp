#include "common/sha256.h"

#include <gtest/gtest.h>

namespace {

TEST(Sha256, PiecesGiveTheDigestOfTheWhole)
{
    const std::string text = "abc";
    EXPECT_EQ(common::toHex(common::sha256(text)), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    common::Sha256 hash;
    for (const char c : std::string("The quick brown fox jumps over the lazy dog"))
        hash.add(std::string_view(&c, 1));
    EXPECT_EQ(common::toHex(hash.finish()), "d7a8fbb307d7809469ca9abcb0082e4f8d5651e46d3cdb762d02d0bf37c9e592");
    EXPECT_EQ(common::toHex(hash.finish()), common::toHex(common::sha256("")));
}

TEST(Sha256, HexIsReadInEitherCaseAndNothingElse)
{
    const std::string lower = common::toHex(common::sha256("x"));
    std::string upper = lower;
    for (char &c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(common::sha256FromHex(upper), common::sha256("x"));
    for (const std::string &bad : {lower.substr(1), lower + "0", "g" + lower.substr(1), std::string()})
        EXPECT_FALSE(common::sha256FromHex(bad)) << bad;
}

} // namespace
