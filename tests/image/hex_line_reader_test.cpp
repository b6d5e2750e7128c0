// The loader's reads: at most 99 characters, ending after a line end, CR LF and LF alike,
// identical on every platform.
#include "hex_fixture.h"
#include "image/hex_line_reader.h"

namespace {

using Expected = std::vector<std::string>;

class ReadHexLine : public HexFileTest {
 protected:
  // Every read of contents, in order, line ends included.
  Expected Reads(const std::string& contents) {
    FILE* file = std::fopen(Write(contents).string().c_str(), "rb");
    EXPECT_NE(file, nullptr);
    if (file == nullptr) return {};
    BeginHexLines(file);
    Expected reads;
    char line[kHexLineCapacity];
    for (int length; (length = ::ReadHexLine(line)) > 0;) {
      EXPECT_EQ(line[length], '\0');
      reads.emplace_back(line, length);
    }
    EXPECT_FALSE(HexLinesFailed());
    std::fclose(file);
    return reads;
  }
};

TEST_F(ReadHexLine, ends_a_read_at_lf_or_cr_lf_and_takes_a_lone_cr_or_nul_as_a_character) {
  std::string withNul("a\0b\n", 4);
  EXPECT_EQ(Reads(""), Expected{});
  EXPECT_EQ(Reads("a\nb\r\n\nc"), (Expected{"a\n", "b\n", "\n", "c"}));
  EXPECT_EQ(Reads("a\rb\r"), (Expected{"a\rb\r"}));
  EXPECT_EQ(Reads("a\r\r\nb"), (Expected{"a\r\n", "b"}));
  EXPECT_EQ(Reads(withNul), Expected{withNul});
}

TEST_F(ReadHexLine, splits_a_line_longer_than_99_characters_into_reads_of_its_own) {
  std::string fits(98, 'x'), full(99, 'y'), longer(150, 'z'), crOnly;
  EXPECT_EQ(Reads(fits + "\r\n"), Expected{fits + "\n"});
  // A line of exactly 99 characters leaves its line end to a read of its own.
  EXPECT_EQ(Reads(full + "\r\nq\n"), (Expected{full, "\n", "q\n"}));
  EXPECT_EQ(Reads(longer + "\n"), (Expected{longer.substr(0, 99), longer.substr(99) + "\n"}));
  for (int i = 0; i < 30; i++) crOnly += ":00000001FF\r";
  EXPECT_EQ(Reads(crOnly), (Expected{crOnly.substr(0, 99), crOnly.substr(99, 99),
                                     crOnly.substr(198, 99), crOnly.substr(297)}));
}

TEST_F(ReadHexLine, joins_a_cr_lf_pair_that_straddles_its_internal_buffer) {
  // The reader fills its buffer 64 KiB at a time; place a CR as the last byte of the first fill
  // and in other positions around it.
  for (size_t crAt : {65534u, 65535u, 65536u}) {
    std::string contents;
    while (contents.size() + 5 < crAt) contents += "abcd\n";
    contents += std::string(crAt - contents.size(), 'p') + "\r\nend\n";
    Expected reads = Reads(contents);
    ASSERT_GE(reads.size(), 2u);
    EXPECT_EQ(reads[reads.size() - 2].back(), '\n') << crAt;
    EXPECT_EQ(reads.back(), "end\n") << crAt;
    size_t total = 0;
    for (const std::string& read : reads) total += read.size();
    EXPECT_EQ(total, contents.size() - 1) << crAt;  // only the one CR was dropped
  }
}

}  // namespace
