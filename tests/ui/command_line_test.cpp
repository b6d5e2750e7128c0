// The command-line rules: only the first argument counts; a path becomes HexFileName, "-L"
// keeps the log window visible, anything else beginning with "-" is ignored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/settings.h"
#include "ui/command_line.h"
#include "ui/ui_state.h"

namespace {

class CommandLineTest : public ::testing::Test {
 protected:
  void SetUp() override {
    FormatPath(HexFileName, u"C:\\stored.hex");
    HideLogWindow = 1;
  }
  void TearDown() override {
    ResetSettings();
    HideLogWindow = 1;
  }
  void Apply(std::vector<std::wstring> arguments) {
    arguments.insert(arguments.begin(), L"pentrel.exe");
    std::vector<wchar_t*> vector;
    for (auto& argument : arguments) vector.push_back(argument.data());
    ApplyCommandLine(static_cast<int>(vector.size()), vector.data());
  }
  std::u16string HexFile() { return HexFileName; }
};

TEST_F(CommandLineTest, no_argument_changes_nothing) {
  Apply({});
  ApplyCommandLine(0, nullptr);
  EXPECT_EQ(HexFile(), u"C:\\stored.hex");
  EXPECT_EQ(HideLogWindow, 1);
}

TEST_F(CommandLineTest, a_path_replaces_the_stored_file_and_a_later_dash_L_is_ignored) {
  Apply({L"D:\\new 100%.hex", L"-L"});
  EXPECT_EQ(HexFile(), u"D:\\new 100%.hex");
  EXPECT_EQ(HideLogWindow, 1);
}

TEST_F(CommandLineTest, dash_L_and_anything_after_the_L_keeps_the_log_visible_and_the_path) {
  Apply({L"-L", L"D:\\ignored.hex"});
  EXPECT_EQ(HexFile(), u"C:\\stored.hex");
  EXPECT_EQ(HideLogWindow, 0);
  HideLogWindow = 1;
  Apply({L"-Lx"});
  EXPECT_EQ(HideLogWindow, 0);
}

TEST_F(CommandLineTest, other_dash_arguments_change_nothing) {
  for (const wchar_t* argument : {L"-l", L"-", L"-x", L"--L"}) {
    Apply({argument});
    EXPECT_EQ(HexFile(), u"C:\\stored.hex") << argument;
    EXPECT_EQ(HideLogWindow, 1) << argument;
  }
}

TEST_F(CommandLineTest, a_path_of_259_characters_is_taken_and_one_of_260_leaves_it_empty) {
  std::wstring longest(259, L'p');
  Apply({longest});
  EXPECT_EQ(HexFile(), std::u16string(259, u'p'));
  Apply({std::wstring(260, L'q')});
  EXPECT_EQ(HexFile(), u"");
}

}  // namespace
