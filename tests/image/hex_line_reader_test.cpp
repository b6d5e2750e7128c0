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

TEST_F(ReadHexLine, ends_a_read_after_lf_or_cr_lf_or_its_99th_character) {
  std::string withNul("a\0b\n", 4), fits(98, 'x'), full(99, 'y'), longer(150, 'z'), crOnly;
  for (int i = 0; i < 30; i++) crOnly += ":00000001FF\r";
  const std::pair<std::string, Expected> cases[] = {
      {"", {}},
      {"a\nb\r\n\nc", {"a\n", "b\n", "\n", "c"}},
      // A lone CR or a NUL is a character like any other.
      {"a\rb\r", {"a\rb\r"}},
      {"a\r\r\nb", {"a\r\n", "b"}},
      {withNul, {withNul}},
      {fits + "\r\n", {fits + "\n"}},
      // A line of exactly 99 characters leaves its line end to a read of its own.
      {full + "\r\nq\n", {full, "\n", "q\n"}},
      {longer + "\n", {longer.substr(0, 99), longer.substr(99) + "\n"}},
      {crOnly, {crOnly.substr(0, 99), crOnly.substr(99, 99), crOnly.substr(198, 99),
                crOnly.substr(297)}},
  };
  for (const auto& [contents, expected] : cases) EXPECT_EQ(Reads(contents), expected) << contents;
}

TEST_F(ReadHexLine, joins_a_cr_lf_pair_that_straddles_its_internal_buffer) {
  // The reader fills its buffer 64 KiB at a time; a CR as the last byte of the first fill, or
  // next to it, still makes one line end with the LF after it.
  for (size_t crAt : {65534u, 65535u, 65536u}) {
    std::string lf;
    while (lf.size() + 5 < crAt) lf += "abcd\n";
    lf += std::string(crAt - lf.size(), 'p') + "\nend\n";
    std::string crLf = lf;
    EXPECT_EQ(Reads(crLf.insert(crAt, "\r")), Reads(lf)) << crAt;
  }
}

}  // namespace
