// Packet framing over a pseudo-terminal, and over scripted reads where the split into reads and
// the empty reads are the point: frames byte for byte, reassembly across reads, resync on 0x55,
// the checksum-error length, full buffers, silence counted read by read, and line failures.
#include <tuple>

#include "serial/framing.h"
#include "serial/port.h"
#include "scripted_reads.h"
#include "serial_fixture.h"

namespace {

const Bytes kPreamble = {0x55, 0x55, 0x55, 0x55};
const Bytes kGoodFrame = {0x55, 0x55, 0x55, 0x55, 0x09, 0x00, 0x00, 0xF7, 0x04};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// ReceivePacket's result, length and payload.
using Reply = std::tuple<int, int32_t, Bytes>;

class FramingTest : public SerialTest {
 protected:
  HANDLE port = INVALID_HANDLE_VALUE;

  void SetUp() override { ASSERT_NE(port = OpenPort(u"COM5", nullptr, nullptr), INVALID_HANDLE_VALUE); }
  void TearDown() override {
    ScriptReads({}, false);
    RestorePort(port, nullptr, nullptr);
  }

  Reply Receive(uint32_t retries) {
    const uint8_t* data = kPreamble.data();  // to be overwritten either way
    int32_t length = -99;
    int result = ReceivePacket(port, &data, &length, retries);
    EXPECT_EQ(data == nullptr, result != 0);
    return {result, length, data != nullptr && length > 0 ? Bytes(data, data + length) : Bytes{}};
  }
};

TEST_F(FramingTest, SendPacket_frames_each_payload_byte_for_byte_and_refuses_one_too_long) {
  // The payload, the length given, and what follows the preamble.
  std::tuple<Bytes, int32_t, Bytes> cases[] = {
      {{0x09, 0x00, 0x00}, 3, {0x09, 0x00, 0x00, 0xF7, 0x04}},
      {{0x55, 0x04}, 2, {0x05, 0x55, 0x05, 0x04, 0xA7, 0x04}},
      {{0xFB}, 1, {0xFB, 0x05, 0x05, 0x04}},  // checksum 0x05, escaped
      {{0xAB}, 1, {0xAB, 0x05, 0x55, 0x04}},  // checksum 0x55, escaped
      {{0x01}, 0, {0x00, 0x04}},
      {{0x01}, -7, {0x00, 0x04}},
  };
  for (const auto& [payload, length, tail] : cases) {
    EXPECT_EQ(SendPacket(port, payload.data(), length), 0);
    EXPECT_EQ(line.Received(50), Join({kPreamble, tail})) << "payload length " << length;
  }
  // The largest payload, 1020 bytes that all need an escape: 2040 framed bytes, then the
  // checksum and the end; back over the line, the receiver unwraps it to the same payload.
  Bytes payload;
  for (int i = 0; i < 340; i++) payload.insert(payload.end(), {0x55, 0x04, 0x05});
  ASSERT_EQ(SendPacket(port, payload.data(), 1020), 0);
  Bytes frame = line.Received(100);
  EXPECT_EQ(frame.size(), 4u + 2040u + 1u + 1u);
  line.Send(frame);
  EXPECT_EQ(Receive(5), Reply(0, 1020, payload));
  payload.push_back(0x11);
  EXPECT_EQ(SendPacket(port, payload.data(), 1021), 1);
  EXPECT_TRUE(line.Received(50).empty());
  EXPECT_EQ(log.Lines(), Lines{u"SendPacket payload too long (1021 bytes)"});
}

TEST_F(FramingTest, SendPacket_and_ReceivePacket_report_a_stalled_line_and_one_that_hung_up) {
  // Nobody reads the far end: fill the line until a write comes back short.
  COMMTIMEOUTS quick{0, 1, 60, 0, 20}, applied;
  ASSERT_TRUE(GetCommTimeouts(port, &applied) && SetCommTimeouts(port, &quick));
  Bytes filler(4096, 0x11);
  DWORD written = filler.size();
  for (int i = 0; i < 1000 && written == filler.size(); i++)
    ASSERT_TRUE(WriteFile(port, filler.data(), filler.size(), &written, nullptr));
  ASSERT_TRUE(written < filler.size() && SetCommTimeouts(port, &applied));
  EXPECT_EQ(SendPacket(port, kGoodFrame.data() + 4, 3), 1);
  line.HangUp();
  EXPECT_EQ(SendPacket(port, kGoodFrame.data() + 4, 3), 1);
  EXPECT_EQ(Receive(10), Reply(1, 0, {}));
  // The system error code in lower-case hexadecimal: EIO is ERROR_GEN_FAILURE, 31.
  EXPECT_EQ(log.Lines(), (Lines{u"SendPacket short write, expected 9 wrote 0",
                                u"SendPacket failed with error 1f", u"failed with error 1f"}));
}

TEST_F(FramingTest, ReceivePacket_unwraps_resyncs_and_ends_frames_as_the_line_has_them) {
  // What the line brings, the replies to one ReceivePacket(5) and then ReceivePacket(0) each,
  // and whether the frames delivered failed their checksum.
  std::tuple<Bytes, std::vector<Reply>, bool> cases[] = {
      {kGoodFrame, {{0, 3, {0x09, 0x00, 0x00}}}, false},
      // A bad checksum stays counted in the length.
      {Join({kPreamble, {0x09, 0x00, 0x00, 0xF6, 0x04}}), {{0, 4, {0x09, 0x00, 0x00, 0xF6}}}, true},
      // Left-overs, a frame cut short by a new preamble, then 04 55 05 escaped, checksum 0xA2.
      {Join({{0x33, 0x44}, kPreamble, {0x11, 0x22}, kPreamble,
             {0x05, 0x04, 0x05, 0x55, 0x05, 0x05, 0xA2, 0x04}}),
       {{0, 3, {0x04, 0x55, 0x05}}}, false},
      // A frame end with nothing stored, first in the call or right after a preamble.
      {{0x04}, {{0, -1, {}}}, false},
      {Join({kPreamble, {0x04}, kGoodFrame}), {{0, -1, {}}, {1, 0, {}}}, false},
      // What follows the frame end in the same read is dropped.
      {Join({kGoodFrame, kPreamble, {0x07, 0xF9, 0x04}}), {{0, 3, {9, 0, 0}}, {1, 0, {}}}, false},
      // 2047 data bytes and their checksum (0x11 × 2047 sums to 0xEF) fill the receive buffer
      // exactly; one more byte is refused.
      {Join({kPreamble, Bytes(2047, 0x11), {0x11, 0x04}}), {{0, 2047, Bytes(2047, 0x11)}}, false},
      {Join({kPreamble, Bytes(2049, 0x11), {0x04}}), {{1, 0, {}}}, false},
  };
  for (const auto& [bytes, replies, failedChecksum] : cases) {
    line.Send(bytes);
    for (size_t i = 0; i < replies.size(); i++) {
      Reply reply = Receive(i == 0 ? 5 : 0);
      EXPECT_EQ(reply, replies[i]) << testing::PrintToString(bytes);
      EXPECT_TRUE(std::get<0>(reply) != 0 || LastFrameFailedChecksum() == failedChecksum);
    }
  }
  EXPECT_EQ(log.Lines(), (Lines{u"checksum error on rx",
                                u"rx overrun: more than 2048 bytes without a frame end"}));
}

TEST_F(FramingTest, ReceivePacket_reassembles_a_frame_split_anywhere_across_reads) {
  // Escapes in the payload and in the checksum (0x05), so that splits fall between an escape and
  // its byte as well as anywhere else.
  const Bytes frame = Join({kPreamble, {0x05, 0x04, 0x05, 0x55, 0xA2, 0x05, 0x05, 0x04}});
  for (size_t cut = 1; cut < frame.size(); cut++) {
    ScriptReads({Bytes(frame.begin(), frame.begin() + cut), Bytes(frame.begin() + cut, frame.end())});
    EXPECT_EQ(Receive(0), Reply(0, 3, {0x04, 0x55, 0xA2})) << "cut at " << cut;
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FramingTest, ReceivePacket_tolerates_exactly_retries_empty_reads_wherever_they_fall) {
  // Each empty read is one read period that passed with nothing; reads that bring bytes, even
  // bytes of no frame, do not count.
  for (uint32_t retries : {0u, 1u, 10u}) {
    std::vector<Bytes> pieces(retries, Bytes{});
    pieces.insert(pieces.begin() + retries / 2, {0x11, 0x55, 0x55});
    pieces.push_back(Bytes(kGoodFrame.begin() + 2, kGoodFrame.end()));
    ScriptReads(pieces);
    EXPECT_EQ(Receive(retries), Reply(0, 3, {0x09, 0x00, 0x00})) << retries;
    pieces.insert(pieces.begin(), Bytes{});
    ScriptReads(pieces);
    EXPECT_EQ(Receive(retries), Reply(1, 0, {})) << retries;
    EXPECT_EQ(ReadsMade(), static_cast<int>(retries) + (retries > 0 ? 2 : 1)) << retries;
  }
  EXPECT_TRUE(log.Lines().empty());  // silence is the caller's to word
}

}  // namespace
