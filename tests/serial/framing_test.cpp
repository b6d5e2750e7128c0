// Packet framing over a pseudo-terminal: frames byte for byte, reassembly across reads, resync on
// 0x55, the checksum-error length, full buffers, silence and line failures.
#include <atomic>
#include <chrono>
#include <thread>

#include "serial/framing.h"
#include "serial/port.h"
#include "serial_fixture.h"

namespace {

constexpr DWORD kMaxDword = 0xFFFFFFFFu;
const Bytes kPreamble = {0x55, 0x55, 0x55, 0x55};
const Bytes kGoodFrame = {0x55, 0x55, 0x55, 0x55, 0x09, 0x00, 0x00, 0xF7, 0x04};

Bytes Join(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

double MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
      .count();
}

struct Reply {
  int result;
  const uint8_t* data;
  int32_t length;
  Bytes payload;
};

class FramingTest : public SerialTest {
 protected:
  HANDLE port = INVALID_HANDLE_VALUE;

  void SetUp() override {
    port = OpenPort(u"COM5", nullptr, nullptr);
    ASSERT_NE(port, INVALID_HANDLE_VALUE);
  }
  void TearDown() override {
    if (port != INVALID_HANDLE_VALUE) RestorePort(port, nullptr, nullptr);
  }

  Reply Receive(uint32_t retries) {
    Reply reply{};
    reply.result = ReceivePacket(port, &reply.data, &reply.length, retries);
    if (reply.data != nullptr && reply.length > 0) {
      reply.payload.assign(reply.data, reply.data + reply.length);
    }
    return reply;
  }

  // Each read returns as soon as it has any byte (waiting up to a second for the first), so a
  // piece sent after the near end has drained the previous one comes in a read of its own.
  void ReadPieceByPiece() {
    COMMTIMEOUTS timeouts{kMaxDword, kMaxDword, 1000, 1, 10};
    ASSERT_TRUE(SetCommTimeouts(port, &timeouts));
  }

  Reply ReceiveInPieces(const std::vector<Bytes>& pieces) {
    std::thread farEnd([&] {
      for (const Bytes& piece : pieces) {
        line.Send(piece);
        line.AwaitDrained();
      }
    });
    Reply reply = Receive(0);
    farEnd.join();
    return reply;
  }
};

TEST_F(FramingTest, SendPacket_frames_each_payload_byte_for_byte) {
  struct Case {
    Bytes payload;
    int32_t length;
    Bytes frame;
  } cases[] = {
      {{0x09, 0x00, 0x00}, 3, Join({kPreamble, {0x09, 0x00, 0x00, 0xF7, 0x04}})},
      {{0x55, 0x04}, 2, Join({kPreamble, {0x05, 0x55, 0x05, 0x04, 0xA7, 0x04}})},
      {{0xFB}, 1, Join({kPreamble, {0xFB, 0x05, 0x05, 0x04}})},  // checksum 0x05, escaped
      {{0xAB}, 1, Join({kPreamble, {0xAB, 0x05, 0x55, 0x04}})},  // checksum 0x55, escaped
      {{0x01}, 0, Join({kPreamble, {0x00, 0x04}})},
      {{0x01}, -7, Join({kPreamble, {0x00, 0x04}})},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(SendPacket(port, c.payload.data(), c.length), 0);
    EXPECT_EQ(line.Received(50), c.frame) << "payload length " << c.length;
  }
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FramingTest, SendPacket_sends_the_largest_payload_whole_and_refuses_a_longer_one) {
  // 1020 bytes that all need an escape: 2040 framed bytes, then checksum 0x28 and the end.
  Bytes payload;
  for (int i = 0; i < 340; i++) payload.insert(payload.end(), {0x55, 0x04, 0x05});
  ASSERT_EQ(SendPacket(port, payload.data(), 1020), 0);
  Bytes frame = line.Received(100);
  ASSERT_EQ(frame.size(), 4u + 2040u + 1u + 1u);
  EXPECT_EQ(Bytes(frame.end() - 2, frame.end()), (Bytes{0x28, 0x04}));
  // Back over the line, the receiver unwraps it to the same payload.
  line.Send(frame);
  Reply reply = Receive(5);
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.payload, payload);

  payload.push_back(0x11);
  EXPECT_EQ(SendPacket(port, payload.data(), 1021), 1);
  EXPECT_TRUE(line.Received(50).empty());
  EXPECT_EQ(log.Lines(), std::vector<std::u16string>{u"SendPacket payload too long (1021 bytes)"});
}

TEST_F(FramingTest, SendPacket_reports_a_short_write_when_the_line_stalls) {
  // Nobody reads the far end: fill the line until a write comes back short.
  COMMTIMEOUTS quick{0, 1, 60, 0, 20}, applied;
  ASSERT_TRUE(GetCommTimeouts(port, &applied));
  ASSERT_TRUE(SetCommTimeouts(port, &quick));
  Bytes filler(4096, 0x11);
  DWORD written = filler.size();
  for (int i = 0; i < 1000 && written == filler.size(); i++) {
    ASSERT_TRUE(WriteFile(port, filler.data(), filler.size(), &written, nullptr));
  }
  ASSERT_LT(written, filler.size());
  ASSERT_TRUE(SetCommTimeouts(port, &applied));
  const uint8_t payload[] = {0x09, 0x00, 0x00};
  EXPECT_EQ(SendPacket(port, payload, 3), 1);
  ASSERT_EQ(log.Lines().size(), 1u);
  EXPECT_EQ(log.Lines()[0].rfind(u"SendPacket short write, expected 9 wrote ", 0), 0u);
  EXPECT_NE(log.Lines()[0], u"SendPacket short write, expected 9 wrote 9");
}

TEST_F(FramingTest, SendPacket_and_ReceivePacket_report_a_line_that_hung_up) {
  line.HangUp();
  const uint8_t payload[] = {0x09, 0x00, 0x00};
  EXPECT_EQ(SendPacket(port, payload, 3), 1);
  Reply reply = Receive(10);
  EXPECT_EQ(reply.result, 1);
  EXPECT_EQ(reply.data, nullptr);
  EXPECT_EQ(reply.length, 0);
  // The system error code in lower-case hexadecimal: EIO is ERROR_GEN_FAILURE, 31.
  EXPECT_EQ(log.Lines(), (std::vector<std::u16string>{u"SendPacket failed with error 1f",
                                                        u"failed with error 1f"}));
}

TEST_F(FramingTest, ReceivePacket_returns_the_payload_and_counts_a_bad_checksum_in_the_length) {
  line.Send(kGoodFrame);
  Reply good = Receive(5);
  EXPECT_EQ(good.result, 0);
  EXPECT_EQ(good.length, 3);
  EXPECT_EQ(good.payload, (Bytes{0x09, 0x00, 0x00}));
  EXPECT_FALSE(LastFrameFailedChecksum());
  EXPECT_TRUE(log.Lines().empty());

  line.Send(Join({kPreamble, {0x09, 0x00, 0x00, 0xF6, 0x04}}));
  Reply bad = Receive(5);
  EXPECT_EQ(bad.result, 0);
  EXPECT_EQ(bad.length, 4);
  EXPECT_EQ(bad.payload, (Bytes{0x09, 0x00, 0x00, 0xF6}));
  EXPECT_EQ(bad.data, good.data);  // both at the start of the one receive buffer
  EXPECT_TRUE(LastFrameFailedChecksum());
  EXPECT_EQ(log.Lines(), std::vector<std::u16string>{u"checksum error on rx"});
}

TEST_F(FramingTest, ReceivePacket_takes_escaped_bytes_as_data_and_restarts_on_a_bare_sync) {
  // Left-overs, then a frame cut short by a new preamble, then the frame that counts: 04 55 05,
  // each escaped, with checksum 0xA2.
  line.Send(Join({{0x33, 0x44}, kPreamble, {0x11, 0x22}, kPreamble,
                  {0x05, 0x04, 0x05, 0x55, 0x05, 0x05, 0xA2, 0x04}}));
  Reply reply = Receive(5);
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.payload, (Bytes{0x04, 0x55, 0x05}));
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FramingTest, ReceivePacket_gives_length_minus_one_for_a_frame_end_with_nothing_stored) {
  // First byte of the call, then right after a preamble: each is an empty frame.
  line.Send({0x04});
  Reply first = Receive(5);
  EXPECT_EQ(first.result, 0);
  EXPECT_EQ(first.length, -1);
  EXPECT_NE(first.data, nullptr);
  line.Send(Join({kPreamble, {0x04}, kGoodFrame}));
  Reply second = Receive(5);
  EXPECT_EQ(second.result, 0);
  EXPECT_EQ(second.length, -1);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FramingTest, ReceivePacket_drops_what_follows_the_frame_end_in_the_same_read) {
  line.Send(Join({kGoodFrame, kPreamble, {0x07, 0xF9, 0x04}}));
  EXPECT_EQ(Receive(5).payload, (Bytes{0x09, 0x00, 0x00}));
  Reply next = Receive(0);
  EXPECT_EQ(next.result, 1);
  EXPECT_EQ(next.data, nullptr);
}

TEST_F(FramingTest, ReceivePacket_reassembles_a_frame_split_anywhere_across_reads) {
  ReadPieceByPiece();
  // Escapes in the payload and in the checksum (0x05), so that splits fall between an escape and
  // its byte as well as anywhere else.
  const Bytes frame = Join({kPreamble, {0x05, 0x04, 0x05, 0x55, 0xA2, 0x05, 0x05, 0x04}});
  const Bytes payload = {0x04, 0x55, 0xA2};
  for (size_t cut = 1; cut < frame.size(); cut++) {
    Reply reply = ReceiveInPieces({Bytes(frame.begin(), frame.begin() + cut),
                                   Bytes(frame.begin() + cut, frame.end())});
    EXPECT_EQ(reply.result, 0) << "cut at " << cut;
    EXPECT_EQ(reply.payload, payload) << "cut at " << cut;
  }
  std::vector<Bytes> bytewise;
  for (uint8_t byte : frame) bytewise.push_back({byte});
  EXPECT_EQ(ReceiveInPieces(bytewise).payload, payload);
  EXPECT_TRUE(log.Lines().empty());
}

TEST_F(FramingTest, ReceivePacket_keeps_2048_bytes_and_refuses_a_longer_run) {
  // 2047 data bytes and their checksum fill the receive buffer exactly.
  Bytes data(2047, 0x11);
  uint8_t sum = 0;
  for (uint8_t byte : data) sum = static_cast<uint8_t>(sum + byte);
  line.Send(Join({kPreamble, data, {static_cast<uint8_t>(0 - sum), 0x04}}));
  Reply full = Receive(5);
  EXPECT_EQ(full.result, 0);
  EXPECT_EQ(full.length, 2047);
  EXPECT_EQ(full.payload, data);

  line.Send(Join({kPreamble, Bytes(2049, 0x11), {0x04}}));
  Reply over = Receive(5);
  EXPECT_EQ(over.result, 1);
  EXPECT_EQ(over.data, nullptr);
  EXPECT_EQ(over.length, 0);
  EXPECT_EQ(log.Lines(),
            std::vector<std::u16string>{u"rx overrun: more than 2048 bytes without a frame end"});
}

TEST_F(FramingTest, ReceivePacket_gives_up_on_the_read_after_retries_empty_reads) {
  auto start = std::chrono::steady_clock::now();
  Reply once = Receive(0);
  double onceMs = MillisecondsSince(start);
  start = std::chrono::steady_clock::now();
  Reply four = Receive(3);
  double fourMs = MillisecondsSince(start);
  EXPECT_EQ(once.result, 1);
  EXPECT_EQ(four.result, 1);
  EXPECT_EQ(four.data, nullptr);
  EXPECT_EQ(four.length, 0);
  // Each empty read lasts the 100 ms of the read time-outs; bounds only against early returns
  // and hangs.
  EXPECT_GE(onceMs, 95);
  EXPECT_GE(fourMs, 4 * 95);
  EXPECT_LT(fourMs, 10000);
  EXPECT_TRUE(log.Lines().empty());  // silence is the caller's to word
}

TEST_F(FramingTest, ReceivePacket_counts_only_empty_reads_against_retries) {
  // A byte every 20 ms keeps every read busy for 400 ms; with no empty read allowed, the call
  // still ends with the frame that follows.
  std::atomic<bool> done{false};
  std::thread farEnd([&] {
    for (int i = 0; i < 20; i++) {
      line.Send({0x11});
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    line.Send(kGoodFrame);
    done = true;
  });
  Reply reply = Receive(0);
  farEnd.join();
  EXPECT_TRUE(done);
  EXPECT_EQ(reply.result, 0);
  EXPECT_EQ(reply.payload, (Bytes{0x09, 0x00, 0x00}));
}

}  // namespace
