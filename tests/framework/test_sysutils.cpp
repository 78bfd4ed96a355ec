#include "framework/classes.h"
#include "framework/sysutils.h"
#include "gtest/gtest.h"

using namespace fw;

TEST(StrToInt, AcceptsBlanksSignsAndHexadecimal) {
    EXPECT_EQ(StrToInt("60"), 60);
    EXPECT_EQ(StrToInt("   60"), 60);
    EXPECT_EQ(StrToInt("+7"), 7);
    EXPECT_EQ(StrToInt("-7"), -7);
    EXPECT_EQ(StrToInt("$3C"), 60);
    EXPECT_EQ(StrToInt("$3c"), 60);
    EXPECT_EQ(StrToInt("2147483647"), 2147483647);
    EXPECT_EQ(StrToInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(StrToInt("$FFFFFFFF"), -1);
}

TEST(StrToInt, RejectsEverythingElseWithTheExactMessage) {
    for (const char* bad : {"", " ", "1,000", "60 ", "1.5", "abc", "+", "-", "$", "$G", "2147483648",
                            "-2147483649", "$100000000", "0x10", "+-1", " - 1"}) {
        try {
            StrToInt(bad);
            ADD_FAILURE() << "accepted '" << bad << "'";
        } catch (const EConvertError& e) {
            EXPECT_EQ(e.Message, std::string("'") + bad + "' is not a valid integer value");
        }
    }
}

TEST(StringList, SplitsAtCrLfLoneCrAndLoneLfUpToNul) {
    TStringList l;
    const char text[] = "a\r\nb\rc\nd\r\n\r\ne\0f";
    l.SetText(text, sizeof(text) - 1);
    ASSERT_EQ(l.Count(), 6);
    EXPECT_EQ(l[0], "a");
    EXPECT_EQ(l[1], "b");
    EXPECT_EQ(l[2], "c");
    EXPECT_EQ(l[3], "d");
    EXPECT_EQ(l[4], "");
    EXPECT_EQ(l[5], "e");
    EXPECT_THROW(l[6], EListError);
    EXPECT_THROW(l[-1], EListError);
}

TEST(StringList, CaseInsensitiveSearchIsAsciiOnly) {
    TStringList l;
    l.Add("Office Dial-Up");
    EXPECT_EQ(l.IndexOfText("OFFICE dial-up"), 0);
    EXPECT_EQ(l.IndexOfText("Office"), -1);
}

TEST(MemoryStream, WritesAppendAndReadsFollowThePosition) {
    TMemoryStream m;
    m.Write("abc", 3);
    m.Write("de", 2);
    EXPECT_EQ(m.Size(), 5);
    m.Position = 1;
    char buf[8] = {};
    EXPECT_EQ(m.Read(buf, 8), 4u);
    EXPECT_STREQ(buf, "bcde");
}
