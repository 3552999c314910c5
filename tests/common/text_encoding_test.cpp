#include "common/text_encoding.h"

#include <gtest/gtest.h>

namespace velmoravad {
namespace {

TEST(TextEncoding, RoundTripsTextOutsideAscii) {
  // Latin, CJK and an emoji outside the basic plane (a surrogate pair in UTF-16).
  const std::string utf8 = "Mikrofon \xC3\xBC \xE9\x9F\xB3 \xF0\x9F\x8E\xA4";
  const std::wstring wide = Utf8ToWide(utf8);
  EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? 15u : 14u);
  EXPECT_EQ(WideToUtf8(wide), utf8);
}

TEST(TextEncoding, ReplacesMalformedInputInsteadOfDroppingIt) {
  EXPECT_EQ(Utf8ToWide("a\xFF"
                       "b"),
            L"a\xFFFD"
            L"b");
  EXPECT_EQ(Utf8ToWide("a\xE2\x82"), L"a\xFFFD");
  // An overlong encoding of NUL: neither byte can begin a character.
  EXPECT_EQ(Utf8ToWide("\xC0\x80"), L"\xFFFD\xFFFD");
  std::wstring loneSurrogate = L"x";
  loneSurrogate += static_cast<wchar_t>(0xD800);
  EXPECT_EQ(WideToUtf8(loneSurrogate), "x\xEF\xBF\xBD");
}

}  // namespace
}  // namespace velmoravad
