#include "common/gbk.h"
#include "settings/ini.h"
#include "support/growth.h"

#include <gtest/gtest.h>

using namespace settings;
using common::gbk;

TEST(IniLookup, FindsKeysLikeTheProfileFunctions)
{
    const std::string content = "[Music]\r\nplay =  yes  \r\n[music]\r\nplay=second\r\n[Other]\nkey=v\n";
    const struct
    {
        const char *name;
        std::string section, key;
        std::optional<std::string> value;
    } cases[] = {
        {"blanks trimmed, first section wins", "Music", "play", "yes"},
        {"case ignored", "MUSIC", "PLAY", "yes"},
        {"leading control bytes of names skipped", " \tMusic", "\x01play", "yes"},
        {"LF line ends", "other", "key", "v"},
        {"missing key", "Music", "none", std::nullopt},
        {"missing section", "None", "play", std::nullopt},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(iniLookup(content, row.section, row.key), row.value);
    }
}

TEST(IniLookup, SectionNameWithABracketAsSecondByteIsWhole)
{
    const std::string section = "\x81\x5D"; // second byte is ']'
    EXPECT_EQ(iniLookup("[" + section + "]\r\nk=v\r\n", section, "k"), "v");
}

TEST(IniAssign, CreatesReplacesAndAppends)
{
    std::string content = iniAssign("", gbk("音乐"), gbk("是否播放"), gbk("是"));
    EXPECT_EQ(content, "[" + gbk("音乐") + "]\r\n" + gbk("是否播放") + "=" + gbk("是") + "\r\n");
    content = iniAssign(content, "A", "k", "1");
    content = iniAssign(content, gbk("音乐"), "other", "2");
    content = iniAssign(content, "a", "K", "3");
    EXPECT_EQ(iniLookup(content, gbk("音乐"), gbk("是否播放")), gbk("是"));
    EXPECT_EQ(iniLookup(content, gbk("音乐"), "other"), "2");
    EXPECT_EQ(iniLookup(content, "A", "k"), "3");
    EXPECT_EQ(content.find("k=1"), std::string::npos);
}

TEST(IniAssign, KeepsForeignLinesAndBlankSeparators)
{
    const std::string before = "; comment\r\n[A]\r\nx=1\r\n\r\n[B]\r\ny=2";
    const std::string after = iniAssign(before, "A", "z", "3");
    EXPECT_EQ(after, "; comment\r\n[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2");
    EXPECT_EQ(iniAssign(before, "B", "w", "4"), before + "\r\nw=4\r\n");
}

TEST(IniAssign, LineBreaksInAValueCannotStartNewEntries)
{
    const std::string content = iniAssign("", "A", "k", "v\r\n[B]\r\nx=1");
    EXPECT_EQ(iniLookup(content, "B", "x"), std::nullopt);
    EXPECT_EQ(iniLookup(content, "A", "k"), "v  [B]  x=1");
}

TEST(IniAssign, ContentEndingInALoneCarriageReturnKeepsItsLastSection)
{
    // Found by fuzzing: "[A\r" at the end read as section A, but the write appended CR LF after the CR, and
    // "[A\r\r" no longer named the section, so the key just written could not be read back.
    const std::string written = iniAssign("x\n[A\r", "a", "c", "v");
    EXPECT_EQ(iniLookup(written, "a", "c"), "v");
    EXPECT_EQ(iniLookup(iniAssign("k=1\r", "b", "k", "2"), "b", "k"), "2");
}

TEST(IniLookup, AKeyOfALaterSectionIsNotInAnEarlierOne)
{
    const std::string content = "[A]\r\nx=1\r\n\r\n[B]\r\nk=later\r\n";
    EXPECT_EQ(iniLookup(content, "A", "k"), std::nullopt);
    const std::string written = iniAssign(content, "A", "k", "mine");
    EXPECT_EQ(iniLookup(written, "A", "k"), "mine");
    EXPECT_EQ(iniLookup(written, "B", "k"), "later");
    EXPECT_EQ(written, "[A]\r\nx=1\r\nk=mine\r\n\r\n[B]\r\nk=later\r\n");
}

TEST(IniNames, NamesThatWouldNotReadBackAreRefused)
{
    const struct
    {
        const char *name;
        std::string text;
        NameKind kind;
        bool refused;
    } cases[] = {
        {"plain section", gbk("记录"), NameKind::Section, false},
        {"plain key", gbk("是否记住名称2"), NameKind::Key, false},
        {"blank inside", "a b", NameKind::Key, false},
        {"bracket as second byte", "\x81]", NameKind::Section, false},
        {"equals in a section", "a=b", NameKind::Section, false},
        {"bracket in a key", "a]b", NameKind::Key, false},
        {"empty", "", NameKind::Key, true},
        {"CR LF", "k\r\n[x]", NameKind::Key, true},
        {"LF", "a\nb", NameKind::Section, true},
        {"zero byte", std::string("a\0b", 3), NameKind::Key, true},
        {"closing bracket", "a]b", NameKind::Section, true},
        {"equals in a key", "a=b", NameKind::Key, true},
        {"key read as a section", "[a", NameKind::Key, true},
        {"leading blank", " a", NameKind::Key, true},
        {"leading control byte",
            "\x01"
            "a",
            NameKind::Section, true},
        {"trailing tab", "a\t", NameKind::Section, true},
        {"half a character at the end", "a\x81", NameKind::Section, true},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(nameProblem(row.text, row.kind).has_value(), row.refused);
        if (row.refused)
            continue;
        const std::string section = row.kind == NameKind::Section ? row.text : "s";
        const std::string key = row.kind == NameKind::Key ? row.text : "k";
        const std::string content = iniAssign("[s]\r\nk=old\r\n", section, key, "v");
        EXPECT_EQ(iniLookup(content, section, key), "v");
    }
}

TEST(IniLookup, CostGrowsInProportionToTheFile)
{
    // Files of one kind of line over and over; the section looked up is missing, so every line is read. Writes
    // find their place by the same pass.
    const std::string lead(40, '\x81');
    for (const std::string &line : {"[" + lead + "]\r\n", "[" + lead + "\r\n", lead + "=" + lead + "\n",
             std::string("[s]\r\n"), std::string("k=\r"), std::string("\n")}) {
        SCOPED_TRACE(line);
        const auto makeFile = [&line](std::size_t copies) { return repeated(line, copies); };
        const auto lookUp = [](const std::string &content) { (void)iniLookup(content, "missing", "k"); };
        EXPECT_TRUE(growsInProportion(makeFile, lookUp, (8 << 10) / line.size()));
    }
}
