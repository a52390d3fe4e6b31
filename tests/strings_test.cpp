#include <string>

#include <gtest/gtest.h>

#include "engine/strings.h"

namespace {

TEST(StringsTest, RoundTripsUtf8) {
  const std::string narrow = "plain \xc3\xa9\xe2\x82\xac\xf0\x9f\x8e\xb5";
  const std::wstring wide = L"plain \u00e9\u20ac\U0001F3B5";
  EXPECT_EQ(engine::ToWide(narrow), wide);
  EXPECT_EQ(engine::ToNarrow(wide), narrow);
  EXPECT_EQ(engine::ToWide(""), L"");
  EXPECT_EQ(engine::ToNarrow(std::wstring(L"a\0b", 3)), std::string("a\0b", 3));
}

TEST(StringsTest, MalformedNarrowInputBecomesReplacementCharacters) {
  // Stray continuation, truncated sequence at the end, overlong '/',
  // encoded surrogate, byte that never starts a sequence.
  EXPECT_EQ(engine::ToWide("a\x80" "b"), L"a\uFFFDb");
  EXPECT_EQ(engine::ToWide("ok\xe2\x82"), L"ok\uFFFD\uFFFD");
  EXPECT_EQ(engine::ToWide("\xc0\xaf"), L"\uFFFD\uFFFD");
  EXPECT_EQ(engine::ToWide("\xed\xa0\x80"), L"\uFFFD\uFFFD\uFFFD");
  EXPECT_EQ(engine::ToWide("\xff" "z"), L"\uFFFDz");
  // A bad byte does not swallow the valid text after it.
  EXPECT_EQ(engine::ToWide("\xe2" "abc"), L"\uFFFDabc");
}

TEST(StringsTest, UnencodableWideValuesBecomeReplacementCharacters) {
  std::wstring bad;
  bad += static_cast<wchar_t>(0xD800);
  bad += static_cast<wchar_t>(0x110000);
  bad += static_cast<wchar_t>(-5);
  EXPECT_EQ(engine::ToNarrow(bad), "\xef\xbf\xbd\xef\xbf\xbd\xef\xbf\xbd");
}

}  // namespace
