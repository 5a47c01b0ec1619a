#include "runtime/containers.h"

#include <gtest/gtest.h>

#include <climits>

TEST(Text, StrFRoundsHalfAwayFromZero) {
  EXPECT_EQ(rt::strF(2.5, 0), "3");
  EXPECT_EQ(rt::strF(-2.5, 0), "-3");
  EXPECT_EQ(rt::strF(0.125, 2), "0.13");
  EXPECT_EQ(rt::strF(9.995, 2), "9.99");  // the double lies just below the half
  EXPECT_EQ(rt::strF(9.9996, 3), "10.000");
  EXPECT_EQ(rt::strF(1.0 / 3.0, 3), "0.333");
  EXPECT_EQ(rt::strF(1234567.0, 1), "1234567.0");
  EXPECT_EQ(rt::strF(-0.001, 2), "0.00");
  EXPECT_EQ(rt::strF(12.0, -3), "12");
}

TEST(Text, ValReadsLeadingNumbers) {
  EXPECT_EQ(rt::val("42"), 42);
  EXPECT_EQ(rt::val("  -17abc"), -17);
  EXPECT_EQ(rt::val("+8"), 8);
  EXPECT_EQ(rt::val("abc"), 0);
  EXPECT_EQ(rt::val(""), 0);
  EXPECT_EQ(rt::val("-9223372036854775808"), INT64_MIN);
  EXPECT_EQ(rt::val("99999999999999999999999"), INT64_MAX);
  EXPECT_EQ(rt::val("-99999999999999999999999"), INT64_MIN);
  EXPECT_DOUBLE_EQ(rt::valF(" 1.5x"), 1.5);
  EXPECT_DOUBLE_EQ(rt::valF("-.25"), -0.25);
  EXPECT_DOUBLE_EQ(rt::valF("+3e2"), 300.0);
  EXPECT_DOUBLE_EQ(rt::valF("x1"), 0.0);
  EXPECT_DOUBLE_EQ(rt::valF("1e999"), 0.0);
  EXPECT_DOUBLE_EQ(rt::valF("nan"), 0.0);
  EXPECT_EQ(rt::str(-123), "-123");
}

TEST(Text, TrimTakesSpacesAndTabs) {
  EXPECT_EQ(rt::trim(" \t a b \t "), "a b");
  EXPECT_EQ(rt::trim("   "), "");
  EXPECT_EQ(rt::trim("x\r"), "x\r");
}

TEST(Text, FieldsAreOneBased) {
  EXPECT_EQ(rt::stringField("a,b,,d", 1, ","), "a");
  EXPECT_EQ(rt::stringField("a,b,,d", 3, ","), "");
  EXPECT_EQ(rt::stringField("a,b,,d", 4, ","), "d");
  EXPECT_EQ(rt::stringField("a,b,,d", 5, ","), "");
  EXPECT_EQ(rt::stringField("a,b", 0, ","), "");
  EXPECT_EQ(rt::stringField("a::b::c", 2, "::"), "b");
  EXPECT_EQ(rt::stringField("abc", 1, ""), "abc");
  EXPECT_EQ(rt::countFields("a,b,,d", ","), 4);
  EXPECT_EQ(rt::countFields("a,", ","), 2);
  EXPECT_EQ(rt::countFields("", ","), 1);
}

TEST(Text, FindStringAndMid) {
  EXPECT_EQ(rt::findString("hello world", "o"), 5);
  EXPECT_EQ(rt::findString("hello world", "o", 6), 8);
  EXPECT_EQ(rt::findString("hello world", "z"), 0);
  EXPECT_EQ(rt::findString("hello", ""), 0);
  EXPECT_EQ(rt::findString("hello", "o", 99), 0);
  EXPECT_EQ(rt::findString("hello", "h", -5), 1);
  EXPECT_EQ(rt::mid("hello", 2, 3), "ell");
  EXPECT_EQ(rt::mid("hello", 4), "lo");
  EXPECT_EQ(rt::mid("hello", 9), "");
  EXPECT_EQ(rt::mid("hello", 0, 2), "he");
  EXPECT_EQ(rt::mid("hello", 3, 100), "llo");
}

TEST(Text, ReplaceString) {
  EXPECT_EQ(rt::replaceString("a\\b\\c", "\\", "/"), "a/b/c");
  EXPECT_EQ(rt::replaceString("aaa", "aa", "b"), "ba");
  EXPECT_EQ(rt::replaceString("abc", "", "x"), "abc");
  EXPECT_EQ(rt::replaceString("abc", "b", ""), "ac");
}

TEST(Text, PathParts) {
  EXPECT_EQ(rt::getPathPart("Data\\Maps\\x.map"), "Data\\Maps\\");
  EXPECT_EQ(rt::getFilePart("Data\\Maps\\x.map"), "x.map");
  EXPECT_EQ(rt::getExtensionPart("Data\\Maps\\x.map"), "map");
  EXPECT_EQ(rt::getPathPart("/tmp/a/b.tar.gz"), "/tmp/a/");
  EXPECT_EQ(rt::getExtensionPart("/tmp/a/b.tar.gz"), "gz");
  EXPECT_EQ(rt::getExtensionPart("Data.d\\noext"), "");
  EXPECT_EQ(rt::getPathPart("file"), "");
  EXPECT_EQ(rt::getFilePart("folder\\"), "");
}

TEST(Text, LetterCaseFoldsAsciiOnly) {
  EXPECT_EQ(rt::lowerCase("AbC\xC4"), "abc\xC4");
  EXPECT_EQ(rt::upperCase("aBc\xE4"), "ABC\xE4");
  EXPECT_TRUE(rt::equalNoCase("TCP Port", "tcp PORT"));
  EXPECT_FALSE(rt::equalNoCase("\xC4", "\xE4"));
  EXPECT_FALSE(rt::equalNoCase("ab", "abc"));
  EXPECT_TRUE(rt::lessNoCase("apple", "Banana"));
  EXPECT_FALSE(rt::lessNoCase("B", "a"));
  EXPECT_TRUE(rt::lessNoCase("ab", "ABC"));
  EXPECT_FALSE(rt::lessNoCase("ABC", "abc"));
  EXPECT_EQ(rt::NoCaseHash{}("Main Menu"), rt::NoCaseHash{}("MAIN menu"));
}

TEST(CodePage, EveryByteRoundTrips) {
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    std::string utf8 = rt::cp1252ToUtf8(one);
    EXPECT_EQ(rt::utf8ToCp1252(utf8), one) << "byte " << b;
  }
}

TEST(CodePage, SpecialCharactersOfTheHighRange) {
  EXPECT_EQ(rt::cp1252ToUtf8("\x80"), "\xE2\x82\xAC");          // euro sign
  EXPECT_EQ(rt::cp1252ToUtf8("\x93\x94"), "\xE2\x80\x9C\xE2\x80\x9D");  // curly quotes
  EXPECT_EQ(rt::cp1252ToUtf8("\x9F"), "\xC5\xB8");              // Y with diaeresis
  EXPECT_EQ(rt::cp1252ToUtf8("\xE4\xDF"), "\xC3\xA4\xC3\x9F");  // German letters
  EXPECT_EQ(rt::utf8ToCp1252("\xE2\x84\xA2"), "\x99");          // trade mark
}

TEST(CodePage, UnmappableAndMalformedInputIsReplaced) {
  EXPECT_EQ(rt::utf8ToCp1252("\xE2\x98\x83"), "?");  // snowman
  EXPECT_EQ(rt::utf8ToCp1252("\xF0\x9F\x98\x80", '_'), "_");
  EXPECT_EQ(rt::utf8ToCp1252("a\xC3"), "a?");            // cut short
  EXPECT_EQ(rt::utf8ToCp1252("\xC0\xAF"), "??");         // overlong
  EXPECT_EQ(rt::utf8ToCp1252("\xED\xA0\x80"), "???");    // surrogate
  EXPECT_EQ(rt::utf8ToCp1252("\xC2\x80"), "?");          // U+0080 has no byte
  EXPECT_EQ(rt::utf8ToCp1252(std::string("a\0b", 3)), std::string("a\0b", 3));
}

TEST(CodePage, TypedTextDropsWhatHasNoByte) {
  EXPECT_EQ(rt::typedText("\u00E4\u20AC\u00DF"), "\xE4\x80\xDF");
  EXPECT_EQ(rt::typedText("A\u2713B"), "AB");
  EXPECT_EQ(rt::typedText("A\xC3"), "A");  // cut short
}

// Records that hold lists are created by copying a fresh record into a list: the copy's current
// position must belong to the copy.
TEST(List, CopiedAndMovedListsKeepTheirOwnPosition) {
  rt::List<int> a;
  *a.append() = 1;
  *a.append() = 2;
  rt::List<int> copy = a;
  copy.reset();
  ASSERT_NE(copy.next(), nullptr);
  EXPECT_EQ(*copy.current(), 1);
  copy.deleteCurrent();
  EXPECT_EQ(copy.count(), 1u);
  EXPECT_EQ(a.count(), 2u);

  rt::List<rt::List<int>> nested;
  rt::List<int>* inner = nested.append();
  *inner->add() = 7;
  EXPECT_EQ(*inner->current(), 7);
  inner->reset();
  EXPECT_EQ(*inner->next(), 7);
  EXPECT_EQ(inner->next(), nullptr);

  rt::List<int> moved = std::move(a);
  EXPECT_EQ(moved.current(), nullptr);
  EXPECT_EQ(*moved.next(), 1);
}
