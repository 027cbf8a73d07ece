#include "catalog/loader.h"
#include "common/gbk.h"
#include "common/markers.h"
#include "common/sha256.h"
#include "download/sharepage.h"
#include "publish/manifestpage.h"
#include "publish/publisher.h"
#include "signing/minisign.h"
#include "support/tempdir.h"
#include "update/channel.h"
#include "update/manifest.h"

#include <gtest/gtest.h>

#include <csignal>
#include <sys/wait.h>
#include <unistd.h>

using namespace publish;
using common::gbk;

namespace {

const std::string Base = "http://cdn.example/kavo";

const std::array<const char *, 5> CategoryFiles{"软件下载", "源码下载", "模块下载", "电脑技术", "常用软件"};

class SourceTree
{
public:
    SourceTree()
    {
        for (const char *name : CategoryFiles)
            write(std::string(name) + ".tsv", std::string("A\t1MB\t2024.1.1\thttp://a/") + name + "\n");
        write("公告.txt", "公告一行\n");
        write("广告.txt", "广告\n");
    }
    void write(const std::string &name, const std::string &text) const { writeFile(m_dir.path() / name, text); }
    void add(int category, const std::string &line) const
    {
        const auto file = m_dir.path() / (std::string(CategoryFiles[static_cast<std::size_t>(category - 1)]) + ".tsv");
        writeFile(file, readFile(file) + line + "\n");
    }
    const std::filesystem::path &path() const { return m_dir.path(); }

private:
    TempDir m_dir;
};

PublishOptions signedOptions(const signing::SecretKey &key, std::int64_t timestamp)
{
    PublishOptions options;
    options.base = Base;
    options.signingKey = &key;
    options.timestamp = timestamp;
    return options;
}

std::filesystem::path hashedList(const std::filesystem::path &out, int category, const ManifestContent &content)
{
    return hashedListFile(
        out, catalog::category(category), content.entries[static_cast<std::size_t>(category - 1)].sha256);
}

// What a program sees in OUT: the signature holds for the page, and every list the page names is there under
// its hashed name, reached through its share page, with the size and hash the page gives.
void expectConsistent(const std::filesystem::path &out, const signing::PublicKey &key)
{
    const std::string page = readFile(out / "manifest.html");
    const std::array<signing::PublicKey, 1> keys{key};
    EXPECT_TRUE(signing::verify(keys, page, readFile(out / "manifest.html.minisig")).has_value());
    const ManifestContent content = readManifest(page);
    for (const catalog::Category &category : catalog::categories()) {
        const ManifestEntry &entry = content.entries[static_cast<std::size_t>(category.number - 1)];
        const std::string sharePage = readFile(sharePageFile(out, category));
        const std::string link = download::extractDirectLink(sharePage);
        EXPECT_NE(link.find(entry.sha256.substr(0, 16)), std::string::npos) << link;
        const std::filesystem::path list = hashedList(out, category.number, content);
        const auto matches = update::checkListFile(list, update::listExpectation(page, category.number));
        EXPECT_TRUE(matches.has_value()) << list;
        EXPECT_EQ(readFile(list), readFile(catalog::categoryFile(out, category)));
    }
    for (const auto &entry : std::filesystem::recursive_directory_iterator(out))
        EXPECT_NE(entry.path().filename().string().front(), '.') << entry.path();
}

} // namespace

// Readers that know only the list's four keys, and the version check that knows only the old labels, read the
// same values from what a publish with checksums and hashes writes.
TEST(StaticPublish, NewFieldsLeaveWhatOlderReadersReadUnchanged)
{
    const std::string hex = common::toHex(common::sha256("file"));
    for (const catalog::Category &category : catalog::categories()) {
        SourceRecord record{gbk("名称"), "1MB", "2024.2.29", "http://a/x?y=1&z=2", ""};
        const std::string plain = listLine(record, category);
        record.sha256 = hex;
        const std::string checked = listLine(record, category);
        EXPECT_EQ(catalog::parseCategory(checked, category), catalog::parseCategory(plain, category));
        EXPECT_EQ(common::extractBetween(checked, catalog::checksumKey(), "-"), hex);
    }
    ManifestContent content;
    for (std::size_t i = 0; i < content.entries.size(); ++i)
        content.entries[i] = {i % 2 == 0, "1." + std::to_string(i), "http://a/" + std::to_string(i), "", ""};
    content.notice = gbk("公告");
    content.advertisement = gbk("广告");
    const std::string without = manifestPage(content);
    for (std::size_t i = 0; i < content.entries.size(); ++i)
        content.entries[i].size = std::to_string(1000 + i), content.entries[i].sha256 = hex;
    const std::string with = manifestPage(content);
    EXPECT_EQ(readManifest(with), content);
    for (const int number : update::checkOrder()) {
        for (const std::string &label : {update::flagLabel(number), update::versionLabel(number),
                 update::addressLabel(number), update::noticeLabel(), update::advertisementLabel()})
            EXPECT_EQ(update::pageField(with, label), update::pageField(without, label)) << common::utf8FromGbk(label);
    }
}

// Lists get new names when they change; the lists of the page before stay one more publish, then go.
TEST(StaticPublish, HashedListsStayOneCycle)
{
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    const SourceTree sources;
    TempDir out;
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), signedOptions(secretKey, 100)).has_value());
    const ManifestContent first = readManifest(readFile(out.path() / "manifest.html"));
    sources.add(2, "B\t2MB\t2024.1.2\thttp://b/");
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), signedOptions(secretKey, 200)).has_value());
    const ManifestContent second = readManifest(readFile(out.path() / "manifest.html"));
    EXPECT_TRUE(std::filesystem::exists(hashedList(out.path(), 2, first)));
    EXPECT_TRUE(std::filesystem::exists(hashedList(out.path(), 2, second)));
    expectConsistent(out.path(), publicKey);
    sources.add(2, "C\t3MB\t2024.1.3\thttp://c/");
    writeFile(out.path() / "lists" / "notes.txt", "the author's own"); // not a list of ours: it stays
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), signedOptions(secretKey, 300)).has_value());
    EXPECT_EQ(readFile(out.path() / "lists" / "notes.txt"), "the author's own");
    EXPECT_FALSE(std::filesystem::exists(hashedList(out.path(), 2, first)));
    EXPECT_TRUE(std::filesystem::exists(hashedList(out.path(), 2, second)));
    expectConsistent(out.path(), publicKey);
    EXPECT_EQ(readManifest(readFile(out.path() / "manifest.html")).entries[1].version, "1.2");
    // A clock set back never signs a page at or before the time of the one before it.
    sources.add(2, "D\t4MB\t2024.1.4\thttp://d/");
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), signedOptions(secretKey, 5)).has_value());
    const std::array<signing::PublicKey, 1> keys{publicKey};
    const auto verified
        = signing::verify(keys, readFile(out.path() / "manifest.html"), readFile(out.path() / "manifest.html.minisig"));
    ASSERT_TRUE(verified.has_value());
    EXPECT_EQ(signing::trustedTimestamp(verified->trustedComment), 301);
}

TEST(StaticPublish, AnUnsignedPublishDoesNotLeaveAStaleSignature)
{
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    const SourceTree sources;
    TempDir out;
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), signedOptions(secretKey, 100)).has_value());
    sources.add(1, "B\t2MB\t2024.1.2\thttp://b/");
    PublishOptions unsigned_;
    unsigned_.base = Base;
    const auto refused = publishCatalog(sources.path(), out.path(), unsigned_);
    ASSERT_FALSE(refused.has_value());
    ASSERT_EQ(refused.error().size(), 1u);
    EXPECT_EQ(refused.error().front().file, "--sign");
    EXPECT_EQ(refused.error().front().flaw.kind, Flaw::Kind::StaleSignature);
    expectConsistent(out.path(), publicKey);
}

// A publish killed at any of its steps, then run again, leaves a tree whose every list agrees with its signed
// page, and still offers every list that changed: the hashes of the page before, not the list files a killed
// publish may have replaced, decide what changed.
TEST(StaticPublish, KilledAtEachStepThenRunAgainOffersEveryChangedList)
{
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    const SourceTree sources;
    TempDir before;
    ASSERT_TRUE(publishCatalog(sources.path(), before.path(), signedOptions(secretKey, 100)).has_value());
    sources.add(2, "B\t2MB\t2024.1.2\thttp://b/");
    sources.add(5, "C\t3MB\t2024.1.3\thttp://c/");
    sources.write("公告.txt", "新的公告\n");
    std::vector<std::string> steps;
    {
        TempDir dry;
        std::filesystem::copy(before.path(), dry.path(), std::filesystem::copy_options::recursive);
        PublishOptions options = signedOptions(secretKey, 200);
        options.step = [&steps](std::string_view step) { steps.emplace_back(step); };
        ASSERT_TRUE(publishCatalog(sources.path(), dry.path(), options).has_value());
    }
    ASSERT_GE(steps.size(), 8u);
    for (std::size_t k = 0; k < steps.size(); ++k) {
        SCOPED_TRACE("killed before " + steps[k]);
        TempDir out;
        std::filesystem::copy(before.path(), out.path(), std::filesystem::copy_options::recursive);
        const pid_t child = ::fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            PublishOptions options = signedOptions(secretKey, 200);
            options.step = [k, count = std::size_t{0}](std::string_view) mutable {
                if (count++ == k)
                    ::raise(SIGKILL);
            };
            (void)publishCatalog(sources.path(), out.path(), options);
            ::_exit(0);
        }
        int status = 0;
        ::waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        ASSERT_TRUE(publishCatalog(sources.path(), out.path(), signedOptions(secretKey, 300)).has_value());
        expectConsistent(out.path(), publicKey);
        const ManifestContent content = readManifest(readFile(out.path() / "manifest.html"));
        for (const int changed : {2, 5}) {
            EXPECT_EQ(content.entries[static_cast<std::size_t>(changed - 1)].version, "1.1");
            EXPECT_TRUE(content.entries[static_cast<std::size_t>(changed - 1)].flag);
        }
        EXPECT_EQ(content.entries[0].version, "1.0");
        EXPECT_EQ(content.notice, gbk("新的公告"));
    }
}

// A journal that a publish did not write (planted, or naming files beside OUT through a link) moves nothing.
TEST(StaticPublish, AJournalMovesOnlyThePublishsOwnTemporaries)
{
    const auto [publicKey, secretKey] = signing::generateKeyPair();
    const SourceTree sources;
    TempDir out;
    TempDir elsewhere;
    ASSERT_TRUE(publishCatalog(sources.path(), out.path(), signedOptions(secretKey, 100)).has_value());
    writeFile(elsewhere.path() / "secret.txt", "precious");
    std::filesystem::create_directory_symlink(elsewhere.path(), out.path() / "link");
    writeFile(out.path() / "lists" / "evil.txt", "evil");
    for (const std::string journal : {"lists/evil.txt\tlink/secret.txt\nend\n", "link/secret.txt\tstolen.txt\nend\n",
             "lists/.x.abcdef\t../x\nend\n"}) {
        writeFile(out.path() / ".kavo-publish", journal);
        ASSERT_TRUE(publishCatalog(sources.path(), out.path(), signedOptions(secretKey, 200)).has_value());
        EXPECT_EQ(readFile(elsewhere.path() / "secret.txt"), "precious");
        EXPECT_FALSE(std::filesystem::exists(out.path() / "stolen.txt"));
        EXPECT_FALSE(std::filesystem::exists(out.path() / ".kavo-publish"));
    }
    std::filesystem::remove(out.path() / "link");
    std::filesystem::remove(out.path() / "lists" / "evil.txt");
    expectConsistent(out.path(), publicKey);
}
