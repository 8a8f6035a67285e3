#include "settings/settings_format.h"

#include <random>

#include <gtest/gtest.h>

namespace {

SectionMap Parse(std::string_view text) {
  SectionMap sections;
  ParseSections(text, sections);
  return sections;
}

TEST(SettingsReader, KeyLinesLoadWhateverTheSpacingAroundEquals) {
  const SectionMap expected = {{"Loading", {{"ForceVRMode", "1"}}}};
  EXPECT_EQ(Parse("[Loading]\r\nForceVRMode = 1\r\n"), expected);
  EXPECT_EQ(Parse("[Loading]\nForceVRMode=1\n"), expected);
  EXPECT_EQ(Parse("  [Loading]\t\n \t ForceVRMode \t=\t 1 \t\r\n"), expected);
  EXPECT_EQ(Parse("[Loading]\nForceVRMode=1"), expected) << "last line without a line end";
}

TEST(SettingsReader, CrLfAndLfLineEndsLoadTheSame) {
  const std::string lf = "[A1]\nk1=v1\nk2 = v2\n\n[B2]\nk3=v3\n";
  const std::string crlf = "[A1]\r\nk1=v1\r\nk2 = v2\r\n\r\n[B2]\r\nk3=v3\r\n";
  EXPECT_EQ(Parse(lf), Parse(crlf));
  EXPECT_EQ(Parse(lf).size(), 2u);
}

TEST(SettingsReader, ThreeCharacterLinesAreHeadersAndKeyLines) {
  const SectionMap expected = {{"AB", {{"x", "1"}}}, {"A", {{"a", "b"}, {"c", ""}}}};
  EXPECT_EQ(Parse("[AB]\nx=1\n[A]\na=b\nc =\n"), expected);
}

TEST(SettingsReader, LinesShorterThanThreeCharactersAreIgnored) {
  EXPECT_EQ(Parse("[S1]\na=\n=b\nab\n\n[]\nk=v\n"), (SectionMap{{"S1", {{"k", "v"}}}}))
      << "\"[]\" must not start a section of its own";
}

TEST(SettingsReader, KeyLinesBeforeTheFirstHeaderAreDropped) {
  EXPECT_EQ(Parse("early=1\n# note\n[S1]\nlate=2\n"), (SectionMap{{"S1", {{"late", "2"}}}}));
  EXPECT_TRUE(Parse("only=keys\nno=header\n").empty());
}

TEST(SettingsReader, CommentsAndLinesWithoutAKeyAreIgnored) {
  EXPECT_EQ(Parse("[S1]\n#k=v\n=value\nno equals here\nkey=v\n"),
            (SectionMap{{"S1", {{"key", "v"}}}}));
  // Zeros that a writer cut short left, from inside a line on or up to one.
  EXPECT_EQ(Parse(std::string_view("[S1]\nk=1\nHeight = 1\0\0\n\0[T1]\nj=2\n", 32)),
            (SectionMap{{"S1", {{"k", "1"}, {"j", "2"}}}}));
}

TEST(SettingsReader, SemicolonStartsAKeyNotAComment) {
  EXPECT_EQ(Parse("[S1]\n; note = x\n"), (SectionMap{{"S1", {{"; note", "x"}}}}));
}

TEST(SettingsReader, UnclosedHeaderIsIgnoredAndKeysStayInThePreviousSection) {
  EXPECT_EQ(Parse("[First]\n[Second\nk=v\n"), (SectionMap{{"First", {{"k", "v"}}}}));
}

TEST(SettingsReader, HeaderNamesKeepEverythingBetweenTheBrackets) {
  EXPECT_EQ(Parse("[a=b]\nk=v\n[ spaced ]\nj=w\n"),
            (SectionMap{{"a=b", {{"k", "v"}}}, {" spaced ", {{"j", "w"}}}}));
}

TEST(SettingsReader, OnlyTheFirstEqualsSplitsAndValuesAreTrimmed) {
  EXPECT_EQ(Parse("[S1]\nformula =  a = b  \nempty =\n"),
            (SectionMap{{"S1", {{"formula", "a = b"}, {"empty", ""}}}}));
}

// Everything stays where the file first names it.
TEST(SettingsReader, LaterKeysOverwriteInPlaceAndRepeatedHeadersContinueTheSection) {
  EXPECT_EQ(Parse("[S1]\nk=1\nj=2\n[T1]\nx=3\n[S1]\nk=4\ni=5\n"),
            (SectionMap{{"S1", {{"k", "4"}, {"j", "2"}, {"i", "5"}}}, {"T1", {{"x", "3"}}}}));
}

TEST(SettingsReader, SectionsAndKeysAreCaseSensitive) {
  EXPECT_EQ(Parse("[Loading]\nKey=1\n[loading]\nkey=2\n").size(), 2u);
  EXPECT_EQ(Parse("[Loading]\nKey=1\nkey=2\n").Find("Loading")->size(), 2u);
}

TEST(SettingsReader, ByteOrderMarkIsSkippedOnlyAtTheVeryStart) {
  EXPECT_EQ(Parse("\xEF\xBB\xBF[Loading]\nForceVRMode=1\n"),
            (SectionMap{{"Loading", {{"ForceVRMode", "1"}}}}));
  EXPECT_EQ(Parse("[S1]\n\xEF\xBB\xBFk=v\n"), (SectionMap{{"S1", {{"\xEF\xBB\xBFk", "v"}}}}));
  EXPECT_TRUE(Parse("x[Loading]\nForceVRMode=1\n").empty()) << "other bytes hide the header";
}

TEST(SettingsReader, EndOfFileByteEndsTheInput) {
  EXPECT_EQ(Parse("[S1]\nk=v\x1Ag=h\n[T1]\nj=w\n"), (SectionMap{{"S1", {{"k", "v"}}}}));
}

TEST(SettingsReader, OnlyAsciiSpacesAreTrimmed) {
  const SectionMap loaded = Parse("[S1]\n\x0B\x0Ck\xA0=\xA0v\x85 \n");
  EXPECT_EQ(loaded, (SectionMap{{"S1", {{"k\xA0", "\xA0v\x85"}}}}));
}

TEST(SettingsWriter, WritesTheReferenceForm) {
  EXPECT_EQ(FormatSections({}), "");
  EXPECT_EQ(FormatSections({{"Loading", {{"ForceVRMode", "1"}}}}),
            "[Loading]\r\nForceVRMode = 1\r\n\r\n");
  EXPECT_EQ(FormatSections({{"Empty", {}}}), "[Empty]\r\n\r\n");
  EXPECT_EQ(FormatSections({{"S", {{"k", ""}}}}), "[S]\r\nk = \r\n\r\n");
  EXPECT_EQ(FormatSections({{"S", {{" k ", " a = b "}}}}), "[S]\r\n k  =  a = b \r\n\r\n")
      << "nothing is trimmed or escaped";
}

TEST(SettingsWriter, WritesSectionsAndKeysInTheMapsOrder) {
  SectionMap sections = {{"B1", {{"y", "2"}, {"x", "1"}}}, {"A1", {{"z", "3"}}}};
  sections["B1"].Set("w", "4");
  sections["B1"].Set("y", "5");
  sections["C1"].Set("v", "6");
  EXPECT_EQ(FormatSections(sections),
            "[B1]\r\ny = 5\r\nx = 1\r\nw = 4\r\n\r\n[A1]\r\nz = 3\r\n\r\n[C1]\r\nv = 6\r\n\r\n");
}

TEST(SettingsModel, ACopyEqualsItsOriginalAndChangesAlone) {
  const SectionMap original = Parse("[S1]\nk=1\n");
  SectionMap copy = original;
  EXPECT_EQ(copy, original);
  copy["S1"].Set("k", "2");
  copy["T1"].Set("j", "3");
  EXPECT_EQ(FormatSections(original), "[S1]\r\nk = 1\r\n\r\n");
  EXPECT_EQ(FormatSections(copy), "[S1]\r\nk = 2\r\n\r\n[T1]\r\nj = 3\r\n\r\n");
}

// Maps the writer can write and the reader gives back unchanged: non-empty
// names and keys without line breaks, 0x1A or outer blanks; keys without "="
// that do not start with "#" or "[".
class RoundTrip {
 public:
  explicit RoundTrip(unsigned seed) : random_(seed) {}

  SectionMap Map() {
    SectionMap sections;
    for (int s = Pick(0, 6); s > 0; --s) {
      KeyMap& keys = sections[Text(1, 12, "#[]=;")];
      for (int k = Pick(0, 6); k > 0; --k) {
        std::string key = Text(1, 10, ";]");
        if (key[0] == '#' || key[0] == '[') key[0] = 'k';
        keys.Set(key, Pick(0, 3) == 0 ? "" : Text(1, 16, "=#[];"));
      }
    }
    return sections;
  }

 private:
  int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

  // Text of letters, inner blanks, a few bytes above 0x7F and the given
  // punctuation, with no blank at either end.
  std::string Text(int shortest, int longest, const std::string& punctuation) {
    const std::string letters = "aZ09_ -" + punctuation + "\t\xA0\xE9\xEF\xBB\xBF";
    std::string text;
    for (int n = Pick(shortest, longest); n > 0; --n) {
      text += letters[static_cast<std::size_t>(Pick(0, static_cast<int>(letters.size()) - 1))];
    }
    if (text.front() == ' ' || text.front() == '\t') text.front() = 'a';
    if (text.back() == ' ' || text.back() == '\t') text.back() = 'z';
    return text;
  }

  std::mt19937 random_;
};

TEST(SettingsFormat, WhatTheWriterWritesReloadsAsTheSameMapAndRewritesAsTheSameBytes) {
  RoundTrip generator(20261208);
  for (int i = 0; i < 2000; ++i) {
    const SectionMap written = generator.Map();
    const std::string text = FormatSections(written);
    ASSERT_EQ(Parse(text), written) << "file:\n" << text;
    ASSERT_EQ(FormatSections(Parse(text)), text);
  }
}

}  // namespace
