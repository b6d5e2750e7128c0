// The remembered settings in the registry: defaults, the stored form, and stored values that are
// not usable. HKEY_CURRENT_USER is redirected to a scratch key for each test.
#include <gtest/gtest.h>

#include <string>

#include "log/message_log.h"
#include "settings/settings.h"
#include "ui/preferences.h"

namespace {

const wchar_t kScratchKey[] = L"Software\\PentrelPreferencesTest";

std::u16string Text(const char16_t* text) { return std::u16string(text); }

// The line the last LogMessage wrote, without its padding.
std::u16string LastLogLine() {
  int slot = (MessageLog.writeIndex + kLogLines - 1) % kLogLines;
  std::u16string line(MessageLog.ring[slot], kLogLineWidth);
  return line.substr(0, line.find_last_not_of(u' ') + 1);
}

class PreferencesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kScratchKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &scratch_, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegOverridePredefKey(HKEY_CURRENT_USER, scratch_), ERROR_SUCCESS);
    InitMessageLog();
    LogWindow = nullptr;
  }
  void TearDown() override {
    RegOverridePredefKey(HKEY_CURRENT_USER, nullptr);
    RegCloseKey(scratch_);
    RegDeleteTreeW(HKEY_CURRENT_USER, kScratchKey);
    ResetSettings();
  }

  // Writes a raw value under the program's key, bypassing SavePreferences.
  void StoreRaw(const wchar_t* name, DWORD type, const void* data, DWORD size) {
    HKEY key;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, kPreferencesKey, 0, nullptr, 0, KEY_ALL_ACCESS,
                              nullptr, &key, nullptr), ERROR_SUCCESS);
    ASSERT_EQ(RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), size),
              ERROR_SUCCESS);
    RegCloseKey(key);
  }
  void StoreText(const wchar_t* name, const std::u16string& text) {
    StoreRaw(name, REG_SZ, text.c_str(), static_cast<DWORD>((text.size() + 1) * 2));
  }

  // The stored value's type and bytes.
  std::pair<DWORD, std::string> ReadRaw(const wchar_t* name) {
    BYTE data[1024];
    DWORD type = 0, size = sizeof data;
    EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, kPreferencesKey, name, RRF_RT_ANY | RRF_NOEXPAND,
                           &type, data, &size), ERROR_SUCCESS);
    return {type, std::string(reinterpret_cast<char*>(data), size)};
  }

  HKEY scratch_ = nullptr;
};

std::string Utf16Bytes(const std::u16string& text) {
  return std::string(reinterpret_cast<const char*>(text.c_str()), (text.size() + 1) * 2);
}

TEST_F(PreferencesTest, without_the_key_loads_defaults_and_logs_code_2) {
  FormatPath(HexFileName, u"C:\\old.hex");
  FormatPath(ComName, u"COM3");
  LoadPreferences();
  EXPECT_EQ(Text(HexFileName), u"");
  EXPECT_EQ(Text(ComName), u"probe all");
  EXPECT_EQ(LastLogLine(), u"Preferences not found, using defaults. (2)");
}

TEST_F(PreferencesTest, saves_both_as_terminated_reg_sz_and_loads_them_back) {
  FormatPath(HexFileName, u"C:\\firmware\\board \x00e9.hex");
  FormatPath(ComName, u"COM7");
  SavePreferences();
  EXPECT_EQ(ReadRaw(L"HexFileName"),
            std::make_pair(DWORD{REG_SZ}, Utf16Bytes(u"C:\\firmware\\board \x00e9.hex")));
  EXPECT_EQ(ReadRaw(L"ComName"), std::make_pair(DWORD{REG_SZ}, Utf16Bytes(u"COM7")));

  ResetSettings();
  int linesBefore = MessageLog.writeIndex;
  LoadPreferences();
  EXPECT_EQ(Text(HexFileName), u"C:\\firmware\\board \x00e9.hex");
  EXPECT_EQ(Text(ComName), u"COM7");
  EXPECT_EQ(MessageLog.writeIndex, linesBefore) << "a found key logs nothing";

  ResetSettings();  // defaults are stored too, an empty name as its terminator alone
  SavePreferences();
  EXPECT_EQ(ReadRaw(L"HexFileName"), std::make_pair(DWORD{REG_SZ}, std::string(2, '\0')));
  EXPECT_EQ(ReadRaw(L"ComName"), std::make_pair(DWORD{REG_SZ}, Utf16Bytes(u"probe all")));
}

TEST_F(PreferencesTest, missing_too_long_or_mistyped_values_keep_their_default) {
  StoreText(L"ComName", u"COM9");
  FormatPath(HexFileName, u"C:\\left over.hex");
  LoadPreferences();
  EXPECT_EQ(Text(HexFileName), u"");  // missing
  EXPECT_EQ(Text(ComName), u"COM9");

  StoreText(L"HexFileName", std::u16string(259, u'x'));  // the longest that fits
  StoreText(L"ComName", std::u16string(260, u'y'));
  LoadPreferences();
  EXPECT_EQ(Text(HexFileName), std::u16string(259, u'x'));
  EXPECT_EQ(Text(ComName), u"probe all");

  StoreRaw(L"HexFileName", REG_EXPAND_SZ, u"C:\\x.hex", 18);
  StoreRaw(L"ComName", REG_BINARY, "COM4", 4);
  LoadPreferences();
  EXPECT_EQ(Text(HexFileName), u"");
  EXPECT_EQ(Text(ComName), u"probe all");

  std::u16string full(260, u'z');  // fills the whole buffer, no room for a terminator
  StoreRaw(L"HexFileName", REG_SZ, full.c_str(), 520);
  LoadPreferences();
  EXPECT_EQ(Text(HexFileName), u"");
}

TEST_F(PreferencesTest, a_key_that_cannot_be_created_is_logged_and_the_settings_kept) {
  // HKEY_CURRENT_USER now stands for a key that no longer exists: nothing can be created below.
  ASSERT_EQ(RegDeleteKeyW(HKEY_CURRENT_USER, L""), ERROR_SUCCESS);
  FormatPath(ComName, u"COM2");
  SavePreferences();
  std::u16string line = LastLogLine();
  EXPECT_EQ(line.rfind(u"Unable to save preferences. (", 0), 0u)
      << std::string(line.begin(), line.end());
  EXPECT_NE(line, u"Unable to save preferences. (0)");
  EXPECT_EQ(Text(ComName), u"COM2");
}

}  // namespace
