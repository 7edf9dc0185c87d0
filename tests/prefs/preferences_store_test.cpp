#include "prefs/preferences_store.h"

#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <limits>

#include "prefs_test_files.h"

namespace veska {
namespace {

constexpr char kMark[] = "\xEF\xBB\xBF\r\n";

class PreferencesStoreTest : public PrefsFolderTest {
 protected:
  void TearDown() override {
    store_.ClosePreferences();
    PrefsFolderTest::TearDown();
  }
  // Opens `bytes` as a file, lets `change` act on it, and gives the bytes
  // written back.
  template <typename Change>
  std::string Rewrite(const std::string& bytes, Change change) {
    Put("t.ini", bytes);
    EXPECT_NE(store_.OpenPreferences(PathOf("t.ini")), 0u);
    change();
    store_.ClosePreferences();
    return Get("t.ini");
  }

  PreferencesStore store_;
};

TEST_F(PreferencesStoreTest, CreatedSettingsFileHasExactBytes) {
  Put("settings.ini", "old content");
  EXPECT_NE(store_.CreatePreferences(PathOf("settings.ini")), 0u);
  EXPECT_FALSE(store_.SelectGroup("Settings"));
  store_.WriteString("Path", "C:\\x");
  store_.WriteInteger("RefreshTime", 500);
  EXPECT_EQ(Get("settings.ini"), "old content") << "replaced only when whole";
  EXPECT_TRUE(store_.ClosePreferences());
  EXPECT_EQ(Get("settings.ini"), std::string(kMark) +
                                     "[Settings]\r\nPath = C:\\x\r\n"
                                     "RefreshTime = 500\r\n");
  // Created and closed unwritten, a file ends up empty, as if emptied at
  // once; a new file is made only at the close.
  EXPECT_NE(store_.CreatePreferences(PathOf("settings.ini")), 0u);
  EXPECT_NE(store_.CreatePreferences(PathOf("new.ini")), 0u);
  EXPECT_EQ(Get("settings.ini"), "");
  EXPECT_FALSE(std::filesystem::exists(PathOf("new.ini")));
  store_.WriteInteger("k", 1);
  store_.ClosePreferences();
  EXPECT_EQ(Get("new.ini"), std::string(kMark) + "k = 1\r\n");
  EXPECT_EQ(std::distance(std::filesystem::directory_iterator(folder_), {}), 2)
      << "no file is left beside them";
}

TEST_F(PreferencesStoreTest, FileWithoutMarkIsUtf8WhenWellFormedElseLatin1) {
  EXPECT_EQ(Rewrite("Key=Caf\xE9\n",
                    [&] {
                      EXPECT_EQ(store_.ReadString("Key", ""), "Caf\xC3\xA9");
                      store_.WriteInteger("n", 1);
                    }),
            std::string(kMark) + "Key = Caf\xC3\xA9\r\nn = 1\r\n");
  // Well-formed UTF-8 is read as such with or without the mark, and gains
  // the mark when rewritten; one stray byte makes the whole file Latin-1.
  EXPECT_EQ(Rewrite("P=/packs/jos\xC3\xA9/\xF0\x9F\x94\x8A\n",
                    [&] {
                      EXPECT_EQ(store_.ReadString("P", ""),
                                "/packs/jos\xC3\xA9/\xF0\x9F\x94\x8A");
                      store_.WriteInteger("n", 1);
                    }),
            std::string(kMark) +
                "P = /packs/jos\xC3\xA9/\xF0\x9F\x94\x8A\r\nn = 1\r\n");
  Put("m.ini", "\xEF\xBB\xBFK=\xC3\xA9");
  store_.OpenPreferences(PathOf("m.ini"));
  EXPECT_EQ(store_.ReadString("K", ""), "\xC3\xA9");
  // Overlong, surrogate, past U+10FFFF, cut short, then a stray byte.
  for (std::string odd : {"\xC0\xA9", "\xED\xA0\x80", "\xF4\x90\x80\x80",
                          "\xE2\x82", "\xC3\xA9\xA9"}) {
    Put("l.ini", "K=" + odd);
    store_.OpenPreferences(PathOf("l.ini"));
    std::string latin1;
    for (unsigned char b : odd) {
      latin1 += static_cast<char>(0xC0 | (b >> 6));
      latin1 += static_cast<char>(0x80 | (b & 0x3F));
    }
    EXPECT_EQ(store_.ReadString("K", ""), latin1);
  }
}

TEST_F(PreferencesStoreTest, OnlyAnEmptyFileIsRewrittenWithoutMark) {
  EXPECT_EQ(Rewrite("", [&] { store_.WriteInteger("a", 1); }), "a = 1\r\n");
  EXPECT_EQ(Rewrite("\r\n", [&] { store_.WriteInteger("a", 1); }),
            std::string(kMark) + "a = 1\r\n");
  EXPECT_EQ(Rewrite("a=1", [] {}), "a=1") << "unchanged files stay as they are";
}

TEST_F(PreferencesStoreTest, NamesMatchWithoutAsciiCaseAndTakeTheWrittenKey) {
  EXPECT_EQ(Rewrite("[settings]\nVolume=5\n",
                    [&] {
                      EXPECT_TRUE(store_.SelectGroup("SETTINGS"));
                      EXPECT_EQ(store_.ReadInteger("vOLUME", 0), 5);
                      store_.WriteInteger("volume", 7);
                    }),
            std::string(kMark) + "[settings]\r\nvolume = 7\r\n");
  Put("e.ini", "[\xC3\x89]\n");  // only ASCII letters fold
  store_.OpenPreferences(PathOf("e.ini"));
  EXPECT_FALSE(store_.SelectGroup("\xC3\xA9"));
}

TEST_F(PreferencesStoreTest, MissingGroupReadsDefaultsAndIsAppendedOnWrite) {
  EXPECT_EQ(
      Rewrite("[A]\nk=1\n[B]\nk=2\n",
              [&] {
                EXPECT_TRUE(store_.SelectGroup("A"));
                EXPECT_FALSE(store_.SelectGroup("C"));
                EXPECT_EQ(store_.ReadInteger("k", 9), 9);
                store_.WriteInteger("k", 3);
                EXPECT_EQ(store_.ReadInteger("k", 9), 3);
              }),
      std::string(kMark) + "[A]\r\nk = 1\r\n[B]\r\nk = 2\r\n[C]\r\nk = 3\r\n");
}

TEST_F(PreferencesStoreTest, NewKeysFollowTheLastEntryOfTheirSection) {
  EXPECT_EQ(Rewrite("top=1\n[A]\na=1\n;note\n[B]\n",
                    [&] {
                      store_.WriteInteger("top2", 2);
                      store_.SelectGroup("a");
                      store_.WriteInteger("a2", 2);
                      store_.WriteInteger("A", 5);
                      store_.SelectGroup("B");
                      store_.WriteInteger("b", 1);
                    }),
            std::string(kMark) +
                "top = 1\r\ntop2 = 2\r\n[A]\r\nA = 5\r\n; note\r\na2 = 2\r\n"
                "[B]\r\nb = 1\r\n");
}

TEST_F(PreferencesStoreTest, RewriteKeepsCommentsAndDropsLayout) {
  // Every line-break style, a key without "=", text after "]", indentation,
  // blank lines and a last line of blanks.
  std::string bytes =
      ";one\r\n;  two\n\n\r\r  [G] tail\n\tbare\rnext = x = y  \n\r"
      "[H\n k  =  v \n \t";
  EXPECT_EQ(Rewrite(bytes,
                    [&] {
                      store_.SelectGroup("G");
                      EXPECT_EQ(store_.ReadString("bare", "d"), "");
                      EXPECT_EQ(store_.ReadString("next", ""), "x = y");
                      store_.SelectGroup("h");
                      EXPECT_EQ(store_.ReadString("k", ""), "v");
                      store_.WriteString("z", "");
                    }),
            std::string(kMark) +
                "; one\r\n;  two\r\n[G]\r\nbare = \r\nnext = x = y  \r\n"
                "[H]\r\nk = v \r\nz = \r\n");
}

TEST_F(PreferencesStoreTest, WritesThatWouldSpoilTheFileAreRefused) {
  EXPECT_EQ(Rewrite("a=1\n",
                    [&] {
                      store_.WriteString("a", "2\r\n[Other]");
                      store_.WriteString("b=c", "1");
                      store_.WriteString("[b", "1");
                      store_.SelectGroup("x]y");
                      store_.WriteString("a", "1");
                    }),
            "a=1\n");
}

TEST_F(PreferencesStoreTest, IntegersReadTheLeadingNumberAndSaturate) {
  Put("i.ini",
      "word=abc\nneg= \v-12abc\nplus=+7\nbig=99999999999999999999\n"
      "small=-2147483649\nmin=-2147483648\n");
  store_.OpenPreferences(PathOf("i.ini"));
  EXPECT_EQ(store_.ReadInteger("word", 4), 0);
  EXPECT_EQ(store_.ReadInteger("missing", 4), 4);
  EXPECT_EQ(store_.ReadInteger("neg", 0), -12);
  EXPECT_EQ(store_.ReadInteger("plus", 0), 7);
  EXPECT_EQ(store_.ReadInteger("big", 0), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(store_.ReadInteger("small", 0),
            std::numeric_limits<int32_t>::min());
  EXPECT_EQ(store_.ReadInteger("min", 0), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(Rewrite("", [&] { store_.WriteInteger("m", INT32_MIN); }),
            "m = -2147483648\r\n");
}

TEST_F(PreferencesStoreTest, FloatTextsRoundTrip) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(Rewrite("",
                    [&] {
                      store_.WriteFloat("p", inf);
                      store_.WriteFloat("m", -inf);
                      store_.WriteFloat("n", std::nan(""));
                      store_.WriteFloat("v", 0.1f);
                      EXPECT_EQ(store_.ReadFloat("p", 0), inf);
                    }),
            "p = +Infinity\r\nm = -Infinity\r\nn = NaN\r\n"
            "v = 0.100000001490116119384765625\r\n");
  Put("f.ini",
      "a=+iNFinity\nb=-INFINITY\nc=nan\nd=1e-5\nw=NaN \t\nx=-Infinity \n"
      "y=2.5 \n");
  store_.OpenPreferences(PathOf("f.ini"));
  EXPECT_EQ(store_.ReadFloat("a", 0), inf);
  EXPECT_EQ(store_.ReadFloat("b", 0), -inf);
  // The words must be the whole value; a number only its start.
  EXPECT_EQ(store_.ReadFloat("w", 1), 0.0);
  EXPECT_EQ(store_.ReadFloat("x", 1), 0.0);
  EXPECT_EQ(store_.ReadFloat("y", 1), 2.5);
  EXPECT_TRUE(std::isnan(store_.ReadFloat("c", 0)));
  EXPECT_EQ(store_.ReadFloat("d", 0), 1e-5);
  EXPECT_EQ(store_.ReadFloat("e", 2.5), 2.5);
  for (double value : {1.0 / 3, -0.0, 1e300, 5e-324, 123456789.125, 1e64}) {
    store_.WriteFloat("x", value);
    double back = store_.ReadFloat("x", 7);
    EXPECT_EQ(back, value);
    EXPECT_EQ(std::signbit(back), std::signbit(value));
  }
}

TEST(ParseFloatTextTest, ReadsOnlyThePlainDecimalPrefix) {
  // The reading must not follow a locale that writes a decimal comma.
  const char* locale = std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
  EXPECT_EQ(ParseFloatText(" \t-1.5e3xyz"), -1500);
  EXPECT_EQ(ParseFloatText("12,5"), 12);
  EXPECT_EQ(ParseFloatText("1e"), 1);
  EXPECT_EQ(ParseFloatText("2E+"), 2);
  EXPECT_EQ(ParseFloatText(".5"), 0.5);
  EXPECT_EQ(ParseFloatText("5."), 5);
  EXPECT_EQ(ParseFloatText("0.0000012345678901234567890e6"),
            1.2345678901234567890);
  for (const char* none : {"", ".", "-", "e5", "inf", "infinity", "nan(1)",
                           " +Infinity", "Infinity"}) {
    EXPECT_EQ(ParseFloatText(none), 0.0) << none;
  }
  EXPECT_EQ(ParseFloatText("0x1p3"), 0.0);
  EXPECT_EQ(ParseFloatText("1e400"), std::numeric_limits<double>::infinity());
  EXPECT_EQ(ParseFloatText("-1e99999999999999999999"),
            -std::numeric_limits<double>::infinity());
  EXPECT_EQ(ParseFloatText("1e-400"), 0.0);
  EXPECT_EQ(ParseFloatText("123456789e-99999999999"), 0.0);
  if (locale != nullptr) std::setlocale(LC_NUMERIC, "C");
}

TEST_F(PreferencesStoreTest, MissingFileIsCreatedAtCloseOnlyWhenWritten) {
  EXPECT_EQ(store_.OpenPreferences(PathOf("new.ini")), 0u);
  EXPECT_EQ(store_.ReadInteger("k", 3), 3);
  store_.ClosePreferences();
  EXPECT_FALSE(std::filesystem::exists(PathOf("new.ini")));
  EXPECT_EQ(store_.OpenPreferences(PathOf("new.ini")), 0u);
  EXPECT_FALSE(store_.SelectGroup("G"));
  store_.WriteInteger("k", 4);
  // Opening another file saves this one first.
  store_.OpenPreferences(PathOf("other.ini"));
  EXPECT_EQ(Get("new.ini"), std::string(kMark) + "[G]\r\nk = 4\r\n");
}

TEST_F(PreferencesStoreTest, FailedCreateLeavesAStoreThatDoesNothing) {
  EXPECT_EQ(store_.CreatePreferences(PathOf("no/such/folder.ini")), 0u);
  EXPECT_FALSE(store_.SelectGroup(""));
  store_.WriteInteger("k", 1);
  EXPECT_EQ(store_.ReadInteger("k", 2), 2);
  EXPECT_EQ(store_.ReadString("k", "d"), "d");
  store_.ClosePreferences();
  EXPECT_FALSE(std::filesystem::exists(PathOf("no")));
  // A folder in the file's place is no file to open, and is left alone.
  std::filesystem::create_directory(PathOf("dir.ini"));
  EXPECT_EQ(store_.OpenPreferences(PathOf("dir.ini")), 0u);
  store_.WriteInteger("k", 1);
  store_.ClosePreferences();
  EXPECT_TRUE(std::filesystem::is_directory(PathOf("dir.ini")));
}

}  // namespace
}  // namespace veska
