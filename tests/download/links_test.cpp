#include "common/base64.h"
#include "common/gbk.h"
#include "download/links.h"

#include <gtest/gtest.h>

using namespace download;
using common::base64Encode;

TEST(Links, BuildTheThreeSchemesFromTheAddressBytes)
{
    EXPECT_EQ(thunderLink("abc"), "thunder://QUFhYmNaWg==");
    EXPECT_EQ(qqdlLink("abc"), "qqdl://YWJj");
    EXPECT_EQ(flashgetLink("abc"), "Flashget://W0ZMQVNIR0VUXWFiY1tGTEFTSEdFVF0=&1926");
    EXPECT_EQ(qqdlLink(""), "qqdl://");
    // The leading blank of a stored address is encoded too, right after "AA".
    EXPECT_EQ(thunderLink(" a"), "thunder://" + base64Encode("AA aZZ"));
}

TEST(Links, ChineseAddressIsEncodedFromItsGbkBytes)
{
    EXPECT_EQ(qqdlLink(common::gbk("软件")), "qqdl://" + base64Encode("\xC8\xED\xBC\xFE"));
}
