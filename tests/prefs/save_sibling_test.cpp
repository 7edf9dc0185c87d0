#include "prefs/save_sibling.h"

#include <gtest/gtest.h>

#include <string>

namespace veska {
namespace {

uint32_t Owner(std::string_view entry) {
  return SaveSiblingOwner<char>(entry, "settings.ini", ".");
}

TEST(SaveSiblingTest, ReadsTheMakerOnlyFromTheExactForm) {
  EXPECT_EQ(Owner(".settings.ini.123.4.tmp"), 123u);
  EXPECT_EQ(Owner(".settings.ini.4294967295.0.tmp"), 4294967295u);
  for (std::string_view other :
       {".settings.ini.4294967296.0.tmp", ".settings.ini.0.1.tmp",
        ".settings.ini.+12.1.tmp", ".settings.ini.-12.1.tmp",
        ".settings.ini. 12.1.tmp", ".settings.ini.12.tmp",
        ".settings.ini.12..tmp", ".settings.ini.12.1.2.tmp",
        ".settings.ini..1.tmp", ".settings.ini.12.x.tmp",
        "settings.ini.12.1.tmp", ".settings.ini2.12.1.tmp",
        ".settings.ini.12.1.tmp.bak", ".settings.ini.12.1.tm",
        ".settings.ini.12.99999999999999999999.tmp", ".settings.ini.tmp"}) {
    EXPECT_EQ(Owner(other), 0u) << other;
  }
}

TEST(SaveSiblingTest, WideNamesWithoutLead) {
  EXPECT_EQ(
      SaveSiblingOwner<wchar_t>(L"settings.ini.7.0.tmp", L"settings.ini", L""),
      7u);
  EXPECT_EQ(
      SaveSiblingOwner<wchar_t>(L".settings.ini.7.0.tmp", L"settings.ini", L""),
      0u);
}

}  // namespace
}  // namespace veska
