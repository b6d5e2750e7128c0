// The command-line rules: only the first argument counts; a path becomes HexFileName, "-L"
// keeps the log window visible, anything else beginning with "-" is ignored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "ui/command_line.h"
#include "ui/ui_state.h"

namespace {

TEST(ApplyCommandLine, takes_only_the_first_argument_as_a_path_or_dash_L) {
  const std::wstring kStored = L"C:\\stored.hex";
  struct Case {
    std::vector<std::wstring> arguments;
    std::wstring hexFile;
    int hideLog;
  } cases[] = {
      {{}, kStored, 1},
      {{L"D:\\new 100%.hex", L"-L"}, L"D:\\new 100%.hex", 1},
      {{L"-L", L"D:\\ignored.hex"}, kStored, 0},
      {{L"-Lx"}, kStored, 0},
      {{L"-l"}, kStored, 1},
      {{L"-"}, kStored, 1},
      {{L"--L"}, kStored, 1},
      {{std::wstring(259, L'p')}, std::wstring(259, L'p'), 1},
      {{std::wstring(260, L'q')}, L"", 1},  // too long: no file rather than a cut one
  };
  for (size_t i = 0; i < std::size(cases); i++) {
    Case& c = cases[i];
    FormatPath(HexFileName, u"C:\\stored.hex");
    HideLogWindow = 1;
    std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"pentrel.exe")};
    for (auto& argument : c.arguments) argv.push_back(argument.data());
    ApplyCommandLine(static_cast<int>(argv.size()), argv.data());
    std::u16string hexFile(HexFileName);
    EXPECT_EQ(std::wstring(hexFile.begin(), hexFile.end()), c.hexFile) << "case " << i;
    EXPECT_EQ(HideLogWindow, c.hideLog) << "case " << i;
  }
  ApplyCommandLine(0, nullptr);
  ResetSettings();
  HideLogWindow = 1;
}

}  // namespace
