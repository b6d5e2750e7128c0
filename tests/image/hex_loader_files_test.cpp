// LoadHexFile and the file system: names that open nothing, long paths, unreadable files, and the
// image left erased after any failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <string>

#include "hex_fixture.h"
#include "image/firmware_image.h"
#include "log/message_log.h"
#include "settings/settings.h"

namespace {

using Logs = std::vector<std::u16string>;
using LoadHexFileFrom = HexFileTest;

const char16_t kUnableStatus[] = u"Last Status: Unable to open input file.";
const std::string kGoodFile = Lines({Upper(0x1D00), Record(0, 0, {0x42}), EndOfFile()});

// The log line for a path that could not be opened, cut to the log's width as it is shown.
std::u16string UnableLine(const std::u16string& path) {
  std::u16string line = u"Unable to open input file " + path;
  return line.substr(0, kLogLineWidth - 1);
}

TEST_F(LoadHexFileFrom, a_missing_file_or_a_folder_is_reported_and_leaves_the_image_erased) {
  ASSERT_EQ(Load(kGoodFile), 0);
  std::filesystem::path missing = scratch / "none.hex";
  for (const std::filesystem::path& path : {missing, scratch}) {
    SetUp();
    Choose(path);
    EXPECT_EQ(LoadHexFile(), -1);
    EXPECT_EQ(Logged(), Logs{UnableLine(path.u16string())});
    EXPECT_EQ(LastStatus(), kUnableStatus);
    EXPECT_EQ(FirmwareImage.highestEnd, 0u);
    EXPECT_EQ(At(kImageBase), 0xFF);
  }
}

TEST_F(LoadHexFileFrom, an_empty_or_unterminated_name_opens_nothing) {
  HexFileName[0] = u'\0';
  EXPECT_EQ(LoadHexFile(), -1);
  EXPECT_EQ(Logged(), Logs{u"Unable to open input file"});
  EXPECT_EQ(LastStatus(), kUnableStatus);

  // A path of 260 characters or more never reaches the setting: it is left empty.
  std::u16string tooLong = scratch.u16string() + u"/" + std::u16string(300, u'n');
  FormatPath(HexFileName, u"%s", tooLong.c_str());
  EXPECT_EQ(HexFileName[0], u'\0');

  // A setting filled to its last unit without a terminator is not read past its end.
  SetUp();
  std::u16string full = scratch.u16string() + u"/" + std::u16string(kPathCapacity, u'u');
  std::copy_n(full.begin(), kPathCapacity, HexFileName);
  EXPECT_EQ(LoadHexFile(), -1);
  EXPECT_EQ(Logged(), Logs{UnableLine(full.substr(0, kPathCapacity - 1))});
  EXPECT_EQ(LastStatus(), kUnableStatus);
}

TEST_F(LoadHexFileFrom, a_path_of_259_characters) {
  // Folders stay short of the 248 characters that Windows allows a folder's path.
  std::filesystem::path folder = scratch / std::string(8, 'd');
  while (folder.u16string().size() < 200) folder /= std::string(8, 'd');
  std::filesystem::create_directories(folder);
  size_t nameLength = 259 - folder.u16string().size() - 1;
  std::filesystem::path path = folder / std::string(nameLength, 'f');
  ASSERT_EQ(path.u16string().size(), 259u);
  std::ofstream(path, std::ios::binary) << kGoodFile;
  Choose(path);
  EXPECT_EQ(LoadHexFile(), 0);
  EXPECT_EQ(At(kImageBase), 0x42);
}

#ifndef _WIN32
TEST_F(LoadHexFileFrom, a_file_that_cannot_be_read_is_reported_not_accepted_in_part) {
  // The start of a process's own memory map is never mapped, so reading it fails with EIO.
  Choose("/proc/self/mem");
  EXPECT_EQ(LoadHexFile(), -1);
  EXPECT_EQ(Logged(), Logs{u"Unable to read input file /proc/self/mem"});
  EXPECT_EQ(LastStatus(), u"Last Status: Unable to read input file.");
}
#endif

}  // namespace
