#include <gtest/gtest.h>

#include "platform/CodePage.h"

namespace tidewell {
namespace {

TEST(CodePage, FirstHangulSyllableIsB0A1) {
    EXPECT_EQ(Utf8ToAnsi("가"), "\xB0\xA1");
    EXPECT_EQ(AnsiToUtf8("\xB0\xA1"), "가");
}

TEST(CodePage, KoreanTextRoundTrips) {
    const std::string text = "사업장 폴더를 선택하세요. ABC 123";
    const std::string ansi = Utf8ToAnsi(text);
    EXPECT_NE(ansi, text);
    EXPECT_EQ(AnsiToUtf8(ansi), text);
    EXPECT_EQ(Utf8ToAnsi(""), "");
}

TEST(CodePage, CharactersWithoutACodeBecomeQuestionMarks) {
    // Thai and an emoji have no CP949 code; the text around them survives.
    EXPECT_EQ(Utf8ToAnsi("a\xE0\xB8\x81" "b"), "a?b");
    EXPECT_EQ(Utf8ToAnsi("x\xF0\x9F\x98\x80y"), "x?y");
    // Broken UTF-8 costs one "?" per broken character.
    EXPECT_EQ(Utf8ToAnsi("a\xE0\x80z"), "a?z");
    // A lone lead byte at the end of CP949 text.
    EXPECT_EQ(AnsiToUtf8("ok\xB0"), "ok?");
}

}  // namespace
}  // namespace tidewell
