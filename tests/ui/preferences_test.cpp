// The remembered settings in the registry: defaults, the stored form, and stored values that are
// not usable. HKEY_CURRENT_USER is redirected to a scratch key for each test.
#include <gtest/gtest.h>

#include <string>

#include "log_capture.h"
#include "settings/settings.h"
#include "ui/preferences.h"

namespace {

const wchar_t kScratchKey[] = L"Software\\PentrelPreferencesTest";

std::u16string Text(const char16_t* text) { return std::u16string(text); }

// The stored value's type and bytes.
std::pair<DWORD, std::string> ReadRaw(const wchar_t* name) {
  BYTE data[1024];
  DWORD type = 0, size = sizeof data;
  EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kPreferencesKey, name, RRF_RT_ANY | RRF_NOEXPAND,
                         &type, data, &size), ERROR_SUCCESS);
  return {type, std::string(reinterpret_cast<char*>(data), size)};
}

std::pair<DWORD, std::string> RegSz(const std::u16string& text) {
  return {REG_SZ, std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2)};
}

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &scratch_, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch_), ERROR_SUCCESS);
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(scratch_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    ResetSettings();
  }
  HKEY scratch_ = nullptr;
  LogCapture log;  // started afresh for each test, and again for each case of a table
};

// Defaults are stored too, an empty name as its terminator alone (what loads: the next test).
TEST_F(PreferencesTest, saves_both_as_terminated_reg_sz) {
  for (auto [hex, com] : {std::pair{u"C:\\firmware\\board \x00e9.hex", u"COM7"},
                          std::pair{u"", u"probe all"}}) {
    FormatPath(HexFileName, hex);
    FormatPath(ComName, com);
    SavePreferences();
    EXPECT_EQ(ReadRaw(L"HexFileName"), RegSz(hex));
    EXPECT_EQ(ReadRaw(L"ComName"), RegSz(com));
  }
}

// A stored value: its type (0: none) and text, cut to size bytes (0: with its terminator).
struct Stored {
  DWORD type;
  std::u16string text;
  DWORD size = 0;
};

TEST_F(PreferencesTest, a_missing_key_and_missing_too_long_or_mistyped_values_load_defaults) {
  const std::u16string x259(259, u'x'), longest(260, u'z');
  struct Case {
    Stored hex, com;
    std::u16string hexLoaded, comLoaded;
    std::vector<std::u16string> logged;
  } cases[] = {
      {{0, u""}, {0, u""}, u"", u"probe all", {u"Preferences not found, using defaults. (2)"}},
      {{0, u""}, {REG_SZ, u"COM9"}, u"", u"COM9", {}},
      {{REG_SZ, x259}, {REG_SZ, longest}, x259, u"probe all", {}},
      {{REG_EXPAND_SZ, u"C:\\x.hex"}, {REG_BINARY, u"COM4"}, u"", u"probe all", {}},
      {{REG_SZ, longest, 520}, {0, u""}, u"", u"probe all", {}},  // no room for a terminator
  };
  for (const Case& c : cases) {
    RegDeleteTreeW(HKEY_CURRENT_USER, kPreferencesKey);
    for (auto [name, value] : {std::pair{L"HexFileName", &c.hex}, std::pair{L"ComName", &c.com}}) {
      if (value->type == 0) continue;
      DWORD size = value->size != 0 ? value->size : (value->text.size() + 1) * 2;
      ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, kPreferencesKey, name, value->type,
                                value->text.c_str(), size), ERROR_SUCCESS);
    }
    FormatPath(HexFileName, u"C:\\left over.hex");
    FormatPath(ComName, u"COM3");
    log = LogCapture();
    LoadPreferences();
    EXPECT_EQ(Text(HexFileName), c.hexLoaded) << "case " << &c - cases;
    EXPECT_EQ(Text(ComName), c.comLoaded) << "case " << &c - cases;
    EXPECT_EQ(log.Lines(), c.logged) << "case " << &c - cases;
  }
}

TEST_F(PreferencesTest, a_key_that_cannot_be_created_is_logged_and_the_settings_kept) {
  // HKEY_CURRENT_USER now stands for a key that no longer exists: nothing can be created below.
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L""), ERROR_SUCCESS);
  FormatPath(ComName, u"COM2");
  SavePreferences();
  ASSERT_EQ(log.Lines().size(), 1u);
  std::u16string line = log.Lines()[0];
  EXPECT_EQ(line.rfind(u"Unable to save preferences. (", 0), 0u)
      << std::string(line.begin(), line.end());
  EXPECT_NE(line, u"Unable to save preferences. (0)");
  EXPECT_EQ(Text(ComName), u"COM2");
}

}  // namespace
