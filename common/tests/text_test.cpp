#include <gtest/gtest.h>
#include "common/text.h"

TEST(Text, AnsiTextInCodePage1252SurvivesTheRoundTripThroughUtf16) {
    // Wine prefixes use code page 1252; e-acute is 0xE9 there and U+00E9 in UTF-16.
    std::string ansi = "Caf\xE9 \x80 library";
    std::wstring wide = ToWide(ansi);
    ASSERT_EQ(wide.size(), ansi.size());
    EXPECT_EQ(wide[3], L'\x00E9');
    EXPECT_EQ(wide[5], L'\x20AC') << "0x80 is the euro sign in code page 1252";
    Bstr bstr = ToBstr(ansi);
    EXPECT_EQ(bstr.Length(), ansi.size());
    EXPECT_EQ(ToAnsi(bstr.Get()), ansi);
}

TEST(Text, TerminatedConversionEndsInExactlyOneUtf16Nul) {
    std::wstring wide = ToWideTerminated("ab");
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[2], L'\0');
    EXPECT_EQ(ToWideTerminated(""), std::wstring(1, L'\0'));
}

TEST(Text, EmptyAndNullTextsConvertToEmpty) {
    EXPECT_EQ(ToAnsi(static_cast<BSTR>(nullptr)), "");
    EXPECT_EQ(ToWide(""), L"");
}
