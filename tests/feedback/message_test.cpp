#include "common/base64.h"
#include "common/gbk.h"
#include "feedback/feedback.h"
#include "feedback/mimemessage.h"
#include "feedback/smtpreply.h"
#include "support/growth.h"

#include <functional>
#include <gtest/gtest.h>
#include <regex>

using namespace feedback;
using common::gbk;

TEST(SmtpReply, MultiLineRepliesEndAtTheLineWithABlank)
{
    const std::string ehlo = "250-mx.example\r\n250-SIZE 100\r\n250-AUTH LOGIN PLAIN\r\n250 8BITMIME\r\n";
    const auto whole = [](std::string_view received) { return SmtpReplyReader().feed(received); };
    EXPECT_EQ(whole("250-mx.example\r\n250-AUTH"), std::nullopt);
    EXPECT_EQ(whole(ehlo), 250);
    EXPECT_EQ(whole("220 ready\r\n"), 220);
    EXPECT_EQ(whole("22"), std::nullopt);
    // Until its CR has come, a line may go on: taking "220 " for the whole greeting would leave the rest to be
    // read as the next reply.
    EXPECT_EQ(whole("220 "), std::nullopt);
    EXPECT_EQ(whole("220 mx1 ESMTP"), std::nullopt);
    EXPECT_EQ(whole("220 mx1 ESMTP\r"), 220);
    const SmtpReply reply = parseReply(ehlo, 250);
    EXPECT_EQ(reply.keywords, (std::vector<std::string>{"mx.example", "SIZE", "AUTH", "8BITMIME"}));
    EXPECT_EQ(reply.values[2], "LOGIN PLAIN");
    EXPECT_EQ(reply.lastError, "8BITMIME");
    EXPECT_EQ(parseReply("550 5.1.1  No such user\r\n", 550).lastError, "5.1.1 No such user");
    EXPECT_EQ(parseReply("554\r\n", 554).lastError, "554\r\n");
}

TEST(SmtpReply, PiecesGiveTheSameAnswerAsTheWholeReply)
{
    // The last line is the text after the last LF before the last CR, wherever the pieces were cut.
    for (const std::string received : {"250-a\r\n250 b\r\n", "250-a\r\n250-b\r", "x\n250 y", "250 a\r\n25",
             "250-a\n\r\n354 go\r\r\n", "\r\n\r\n", "550 no\n\n"}) {
        SCOPED_TRACE(received);
        const auto whole = SmtpReplyReader().feed(received);
        for (std::size_t cut = 0; cut <= received.size(); ++cut) {
            SmtpReplyReader reader;
            (void)reader.feed(received.substr(0, cut));
            EXPECT_EQ(reader.feed(received.substr(cut)), whole) << cut;
        }
    }
}

TEST(SmtpReply, ReadingGrowsInProportionToTheReply)
{
    // Replies that never complete, arriving a few bytes at a time: a reader that looked back over everything
    // received for each piece would cost the square of the reply's size.
    for (const std::string &unit : {std::string("x"), std::string("250-a\n"), std::string("\r")}) {
        SCOPED_TRACE(unit);
        const auto read = [&unit](std::size_t pieces) {
            SmtpReplyReader reader;
            for (std::size_t i = 0; i < pieces; ++i)
                (void)reader.feed(unit);
        };
        EXPECT_TRUE(growsInProportion(std::identity(), read, 1 << 11)); // replies of some ten kilobytes
    }
    const auto parse = [](const std::string &reply) { (void)parseReply(reply, 250); };
    const auto manyLines = [](std::size_t lines) { return repeated("250-AUTH  LOGIN    PLAIN \r\r\n", lines); };
    EXPECT_TRUE(growsInProportion(manyLines, parse, 1 << 9));
    const auto longLine
        = [](std::size_t blanks) { return "250 " + repeated(" ", blanks) + "x" + repeated(" ", blanks); };
    EXPECT_TRUE(growsInProportion(longLine, parse, 1 << 14));
}

TEST(MailAddress, NamesBracketsAndLists)
{
    const auto named = parseAddress(" 张三 <a@b.c> ");
    ASSERT_TRUE(named);
    EXPECT_EQ(named->name, "张三");
    EXPECT_EQ(named->address, "a@b.c");
    EXPECT_EQ(parseAddress("a@b.c")->name, "");
    EXPECT_FALSE(parseAddress("x <a@b.c"));
    EXPECT_FALSE(parseAddress("x > <a@b.c"));
    EXPECT_FALSE(parseAddress("a>b <c@d>"));
    EXPECT_FALSE(parseAddressList("ok@x;a>b <c@d>"));
    EXPECT_EQ(parseAddress("a>b")->address, "a>b"); // without "<" the whole text is the address
    EXPECT_EQ(parseAddressList("a@b;c@d, <e@f>")->size(), 3u);
    EXPECT_EQ(parseAddressList("")->size(), 0u);
    EXPECT_EQ(parseAddressList("a@b;;")->size(), 1u);
    EXPECT_FALSE(parseAddressList("a@b;x <y"));
}

TEST(MimeMessage, EncodedWordsSplitPast45Bytes)
{
    EXPECT_EQ(encodeHeaderText("plain"), "plain");
    const std::string fortyFive = gbk("反馈信息反馈信息反馈信息反馈信息反馈信息反馈") + "x";
    ASSERT_EQ(fortyFive.size(), 45u);
    EXPECT_EQ(encodeHeaderText(fortyFive), "=?gb2312?B?" + common::base64Encode(fortyFive) + "?=");
    const std::string fortySix = fortyFive + "y";
    EXPECT_EQ(encodeHeaderText(fortySix),
        "=?gb2312?B?" + common::base64Encode(fortySix.substr(0, 23)) + "?=\r\n =?gb2312?B?"
            + common::base64Encode(fortySix.substr(23)) + "?=");
}

TEST(MimeMessage, HeaderBlockInOrderWithCharsetByBody)
{
    MailMessage message;
    message.from = {"", "me@x"};
    message.replyTo = {"", "me@x"};
    message.to = {{gbk("作者"), "author@x"}, {"", "two@x"}};
    message.subject = "Hi";
    message.body = "ascii only";
    EXPECT_EQ(headerBlock(message, "DATE"),
        "From: me@x\r\nTo: =?gb2312?B?" + common::base64Encode(gbk("作者"))
            + "?= <author@x>,two@x\r\nSubject: Hi\r\nDate: DATE\r\nReply-To: me@x\r\n"
              "MIME-Version: 1.0\r\nContent-type: text/plain; charset=\"us-ascii\"\r\n"
              "Content-Transfer-Encoding: base64\r\n\r\n");
    message.cc = {{"", "cc@x"}};
    message.bcc = {{"", "hidden@x"}};
    message.replyTo = {};
    message.body = gbk("中");
    const std::string withCc = headerBlock(message, "D");
    EXPECT_NE(withCc.find("two@x\r\nCc: cc@x\r\nSubject: Hi\r\n"), std::string::npos);
    EXPECT_EQ(withCc.find("hidden"), std::string::npos);
    EXPECT_EQ(withCc.find("Reply-To"), std::string::npos);
    EXPECT_NE(withCc.find("charset=\"gb2312\""), std::string::npos);
}

TEST(MimeMessage, BodyInLinesOf76AndDateWithZone)
{
    const std::string body = bodyBlock(std::string(100, 'a'));
    EXPECT_EQ(body.find("\r\n"), 76u);
    EXPECT_EQ(body.substr(body.size() - 4), "==\r\n"); // 136 characters: a break after 76, one at the end
    EXPECT_EQ(bodyBlock(std::string(57, 'a')), common::base64Encode(std::string(57, 'a')) + "\r\n\r\n");
    EXPECT_TRUE(std::regex_match(
        dateHeader(0), std::regex(R"([A-Z][a-z]{2}, \d\d [A-Z][a-z]{2} \d{4} \d\d:\d\d:\d\d [+-]\d{4})")));
}

TEST(Feedback, ValidationCountsGbkBytes)
{
    EXPECT_EQ(validateFeedback("", "0123456789"), gbk("请输入正确的名称!"));
    EXPECT_EQ(validateFeedback(gbk("网友"), ""), gbk("请输入你要反馈的内容!"));
    EXPECT_EQ(validateFeedback(gbk("网友"), "012345678"), gbk("对不起、反馈内容不能小于10个文字!"));
    EXPECT_EQ(validateFeedback(gbk("网友"), "0123456789"), std::nullopt);
    EXPECT_EQ(validateFeedback(gbk("网友"), gbk("五个中文字")), std::nullopt);
    EXPECT_EQ(validateFeedback(gbk("网友"), std::string(10, ' ')), std::nullopt);
    EXPECT_EQ(feedbackBody("n", "c"), gbk("名称：n\r\n\r\n内容：c"));
}

TEST(Feedback, LineBreaksCountAndTravelAsCrLf)
{
    const struct
    {
        std::string content, mailed;
        bool accepted;
    } cases[] = {
        {"12345678\n", "12345678\r\n", true},
        {"1234567\n", "1234567\r\n", false},
        {"1234567\r\n", "1234567\r\n", false},
        {"123456\r\r", "123456\r\n\r\n", true},
        {"\n\n\n\n\n", "\r\n\r\n\r\n\r\n\r\n", true},
        {gbk("中文\n"), gbk("中文\r\n"), false},
    };
    for (const auto &row : cases) {
        SCOPED_TRACE(row.content);
        EXPECT_EQ(withCrLf(row.content), row.mailed);
        EXPECT_EQ(validateFeedback("n", row.content).has_value(), !row.accepted);
        EXPECT_EQ(feedbackBody("n", row.content), gbk("名称：n\r\n\r\n内容：") + row.mailed);
    }
}
