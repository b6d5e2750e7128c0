// LoadHexFile and the file system: names that open nothing, long paths, unreadable files, and the
// image left erased after any failure.
#include <algorithm>

#include "hex_fixture.h"

namespace {

using LoadHexFileFrom = HexFileTest;

const std::string kGoodFile = Lines({Upper(0x1D00), Record(0, 0, {0x42}), kEndOfFile});

TEST_F(LoadHexFileFrom, a_name_that_opens_nothing_is_reported_and_leaves_the_image_erased) {
  // A setting filled to its last unit without a terminator is not read past its end.
  std::u16string full = scratch.u16string() + u"/" + std::u16string(kPathCapacity, u'u');
  for (const std::u16string& setting : {(scratch / "none.hex").u16string(), scratch.u16string(),
                                        std::u16string(), full.substr(0, kPathCapacity)}) {
    ASSERT_EQ(Load(kGoodFile), 0);
    Choose(scratch);  // for a fresh log
    std::fill_n(HexFileName, kPathCapacity, u'\0');
    std::copy(setting.begin(), setting.end(), HexFileName);
    EXPECT_EQ(LoadHexFile(), -1);
    // The log line is cut to the log's width, as it is shown.
    std::u16string line = setting.empty() ? u"Unable to open input file"
                                          : u"Unable to open input file " + setting;
    EXPECT_EQ(Logged(), Logs{line.substr(0, kLogLineWidth - 1)});
    EXPECT_EQ(std::u16string(MessageLog.lastStatus), u"Last Status: Unable to open input file.");
    EXPECT_EQ(FirmwareImage.highestEnd, 0u);
    EXPECT_EQ(At(kImageBase), 0xFF);
  }
}

TEST_F(LoadHexFileFrom, a_path_of_259_characters) {
  // Folders stay short of the 248 characters that Windows allows a folder's path.
  std::filesystem::path folder = scratch / std::string(8, 'd');
  while (folder.u16string().size() < 200) folder /= std::string(8, 'd');
  std::filesystem::create_directories(folder);
  std::filesystem::path path = folder / std::string(259 - folder.u16string().size() - 1, 'f');
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
  EXPECT_EQ(std::u16string(MessageLog.lastStatus), u"Last Status: Unable to read input file.");
}
#endif

}  // namespace
