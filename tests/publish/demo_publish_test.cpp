#include "catalog/loader.h"
#include "common/gbk.h"
#include "download/conversions.h"
#include "download/fetch.h"
#include "download/sharepage.h"
#include "support/demoservice.h"
#include "support/samplepublisher.h"
#include "update/manifest.h"

#include <gtest/gtest.h>

using common::gbk;

namespace {

// The version check as a program with the lists of the first publish runs it against the demo service.
std::optional<update::UpdateOffer> offerFrom(const DemoService &demo)
{
    return update::checkVersions(
        [&demo](const std::string &label) {
            return update::readManifestField(
                [](const std::string &url) { return download::FetchUrl(url); }, demo.url("/manifest.html"), label);
        },
        [](int) { return std::string("1.0"); });
}

} // namespace

TEST(DemoPublish, ASecondPublishWithOneMoreRecordIsOfferedAndFetched)
{
    TempDir tree;
    DemoService demo(tree.path());
    ASSERT_TRUE(demo.started());
    const SamplePublisher author(tree.path(), demo.url("/share/link?list={category}"));
    ASSERT_EQ(author.publish().find("problems:"), std::string::npos);
    EXPECT_EQ(offerFrom(demo), std::nullopt);

    author.addRecord("电脑技术", "新教程：备份\t12KB\t2026.1.2\thttp://127.0.0.1/share/link?shareid=140999&uk=1");
    ASSERT_EQ(author.publish().find("problems:"), std::string::npos);
    const std::optional<update::UpdateOffer> offer = offerFrom(demo);
    ASSERT_TRUE(offer.has_value());
    EXPECT_EQ(offer->category, 4);
    EXPECT_EQ(offer->remoteVersion, "1.1");

    // The refresh's way to the list: the address field, its "&third=0" page, the direct link, the file.
    const std::string address
        = update::readManifestField([](const std::string &url) { return download::FetchUrl(url); },
            demo.url("/manifest.html"), update::addressLabel(4));
    const std::string page = download::Utf8ToGb18030(download::FetchUrl(download::secondPageAddress(address)));
    const std::string list = download::FetchUrl(download::extractDirectLink(common::untilZero(page)));
    EXPECT_EQ(list, readFile(tree.path() / "自动更新" / "电脑技术.txt"));
    const std::vector<catalog::CatalogItem> rows = catalog::parseCategory(list, catalog::category(4));
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows.back().name, gbk("新教程：备份"));
    EXPECT_EQ(rows.back().address, " http://127.0.0.1/share/link?shareid=140999&uk=1");
}
