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
  const std::u16string kStored = u"C:\\stored.hex";
  struct Case {
    std::vector<std::wstring> arguments;
    std::u16string hexFile;
    int hideLog;
  } cases[] = {
      {{L"D:\\new 100%.hex", L"-L"}, u"D:\\new 100%.hex", 1},
      {{L"-L", L"D:\\ignored.hex"}, kStored, 0},
      {{L"-Lx"}, kStored, 0},
      {{L"-l"}, kStored, 1},
      {{L"-"}, kStored, 1},
      {{L"--L"}, kStored, 1},
      {{std::wstring(259, L'p')}, std::u16string(259, u'p'), 1},
      {{std::wstring(260, L'q')}, u"", 1},  // too long: no file rather than a cut one
  };
  for (Case& c : cases) {
    FormatPath(HexFileName, kStored.c_str());
    HideLogWindow = 1;
    std::vector<wchar_t*> argv = {const_cast<wchar_t*>(L"pentrel.exe")};
    for (auto& argument : c.arguments) argv.push_back(argument.data());
    ApplyCommandLine(static_cast<int>(argv.size()), argv.data());
    EXPECT_EQ(std::u16string(HexFileName), c.hexFile) << "case " << &c - cases;
    EXPECT_EQ(HideLogWindow, c.hideLog) << "case " << &c - cases;
  }
  ApplyCommandLine(0, nullptr);  // no arguments at all, not even the program's name
}

}  // namespace
