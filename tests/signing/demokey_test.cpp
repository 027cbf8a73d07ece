#include <gtest/gtest.h>

#include <array>

#include "signing/minisign.h"
#include "support/process.h"
#include "support/tempdir.h"

namespace {

int runDemokey(const std::filesystem::path &dir)
{
    return runCommand(binaryDir() + "/kavo_demokey '" + dir.string() + "' 2>/dev/null").status;
}

} // namespace

TEST(Demokey, WritesAMatchingPairOnceAndKeepsIt)
{
    const TempDir temp;
    const auto dir = temp.path() / "keys";
    ASSERT_EQ(runDemokey(dir), 0);
    const std::string publicText = readFile(dir / "kavo-demo.pub");
    const std::string secretText = readFile(dir / "kavo-demo.key");
    const auto publicKey = signing::readPublicKey(publicText);
    const auto secretKey = signing::readSecretKey(secretText, [] { return std::optional<std::string>(); });
    ASSERT_TRUE(publicKey.has_value());
    ASSERT_TRUE(secretKey.has_value());
    const std::array keys{*publicKey};
    EXPECT_TRUE(signing::verify(keys, "m", signing::sign(*secretKey, "m", "t")).has_value());
    const auto others = std::filesystem::perms::group_all | std::filesystem::perms::others_all;
    EXPECT_EQ(std::filesystem::status(dir / "kavo-demo.key").permissions() & others, std::filesystem::perms::none);

    ASSERT_EQ(runDemokey(dir), 0);
    EXPECT_EQ(readFile(dir / "kavo-demo.pub"), publicText);
    EXPECT_EQ(readFile(dir / "kavo-demo.key"), secretText);

    // Half a pair is not silently replaced: whatever trusts the remaining half would stop matching.
    std::filesystem::remove(dir / "kavo-demo.pub");
    EXPECT_EQ(runDemokey(dir), 1);
    EXPECT_EQ(readFile(dir / "kavo-demo.key"), secretText);
    EXPECT_FALSE(std::filesystem::exists(dir / "kavo-demo.pub"));
}
