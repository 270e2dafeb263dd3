// PLC data requests: the datagram layout, the answer checks, the repetition filter and the
// matching of one pass.
#include <gtest/gtest.h>

#include <cstring>

#include "base/bytes.h"
#include "plc/request_manager.h"

namespace plc {
namespace {

TEST(TagRequest, DatagramFieldsAreLittleEndian) {
  const CTagRequest w = CTagRequest::Write("192.168.202.21", 0x1234, 4, 0xA1B2C3D4);
  const uint8_t expected[] = {static_cast<uint8_t>(w.id),
                              static_cast<uint8_t>(w.id >> 8),
                              2,
                              0,
                              8,
                              0,
                              0,
                              0,
                              0x34,
                              0x12,
                              4,
                              0,
                              0xD4,
                              0xC3,
                              0xB2,
                              0xA1};
  ASSERT_EQ(w.requestLength, sizeof expected);
  EXPECT_EQ(0, std::memcmp(w.request.data(), expected, sizeof expected));
  const CTagRequest r = CTagRequest::Read("", 2000, 500);
  EXPECT_EQ(r.address, "255.255.255.255");
  EXPECT_TRUE(r.IsBroadcast());
  EXPECT_EQ(r.requestLength, 12u);
  EXPECT_EQ(base::GetLE16(r.request.data() + 4), 4);
  EXPECT_EQ(base::GetLE16(r.request.data() + 10), 500);
  EXPECT_EQ(static_cast<uint16_t>(r.id - w.id), 1) << "ids come from one counter";
}

TEST(TagRequest, AnswersAreInspectedOnlyAsFarAsTheyReach) {
  struct Case {
    std::vector<uint8_t> bytes;
    bool isAnswer, matchable, error;
  };
  const Case cases[] = {
      {{}, false, false, false},
      {{1, 0}, false, false, false},
      {{1, 0, 0x40}, true, false, false},
      {{1, 0, 0x00, 0, 1, 0, 0, 0}, false, true, false},
      {{1, 0, 0x40, 0, 1, 0, 0, 0}, true, true, false},
      {{1, 0, 0x85, 0, 1, 0, 0, 0}, true, true, true},
  };
  for (const Case& c : cases) {
    const AnswerView view =
        InspectAnswer(c.bytes.empty() ? nullptr : c.bytes.data(), c.bytes.size());
    EXPECT_EQ(view.isAnswer, c.isAnswer) << c.bytes.size();
    EXPECT_EQ(view.matchable, c.matchable) << c.bytes.size();
    EXPECT_EQ(view.error, c.error) << c.bytes.size();
  }
}

TEST(RepetitionFilter, ARepeatedDatagramCountsOnce) {
  CRepetitionFilter filter;
  const uint8_t a[] = {1, 0, 0x40, 0, 1, 0, 0, 0};
  const uint8_t b[] = {2, 0, 0x40, 0, 1, 0, 0, 0};
  EXPECT_TRUE(filter.Take(1, "10.0.0.1", a, sizeof a));
  EXPECT_FALSE(filter.Take(1, "10.0.0.1", a, sizeof a)) << "the same bytes again";
  EXPECT_TRUE(filter.Take(2, "10.0.0.2", a, sizeof a)) << "another sender";
  EXPECT_TRUE(filter.Take(1, "10.0.0.1", b, sizeof b)) << "a different later answer";
  EXPECT_TRUE(filter.Take(1, "10.0.0.1", a, sizeof a)) << "only the last one is compared";
  EXPECT_FALSE(filter.Take(1, "10.0.0.1", a, sizeof a));
  EXPECT_TRUE(filter.Take(1, "10.0.0.1", a, sizeof a - 1)) << "a shorter datagram is new";
  EXPECT_EQ(filter.SenderCount(), 2u);
}

std::unique_ptr<CUDPacket> Packet(const std::string& sender, uint16_t id, uint8_t status,
                                  uint8_t firstData = 0, size_t length = 12) {
  auto packet = std::make_unique<CUDPacket>();
  packet->senderText = sender;
  packet->length = static_cast<uint32_t>(length);
  base::PutLE16(packet->data.data(), id);
  packet->data[2] = status;
  packet->data[8] = firstData;
  return packet;
}

CTagRequest* Sent(CRequestQueue& queue, const std::string& address, uint32_t sentAt) {
  CTagRequest* r = queue.Append(CTagRequest::Read(address, 0, 4));
  r->state = kStateSent;
  r->sentAt = sentAt;
  return r;
}

TEST(MatchPass, StatesFromTheAnswersOfOnePass) {
  CRequestQueue queue;
  CTagRequest* ok = Sent(queue, "10.0.0.1", 1000);
  CTagRequest* error = Sent(queue, "10.0.0.2", 1000);
  CTagRequest* wrongSender = Sent(queue, "10.0.0.3", 1000);
  CTagRequest* shortAnswer = Sent(queue, "10.0.0.4", 1000);
  CTagRequest* late = Sent(queue, "10.0.0.5", 1000);
  CTagRequest* waiting = Sent(queue, "10.0.0.6", 1200);
  std::vector<std::unique_ptr<CUDPacket>> pass;
  pass.push_back(Packet("10.0.0.1", ok->id, 0x40, 0x5A));
  pass.push_back(Packet("10.0.0.2", error->id, 0x85));
  pass.push_back(Packet("10.0.0.9", wrongSender->id, 0x40));
  pass.push_back(Packet("10.0.0.4", shortAnswer->id, 0x40, 0, 7));
  std::lock_guard<std::mutex> lock(queue.Lock());
  const PassOutcome outcome = MatchPass(queue.Items(), pass, 1401);
  EXPECT_TRUE(outcome.answered);
  EXPECT_TRUE(outcome.failed);
  EXPECT_EQ(ok->state, kStateAnswered);
  EXPECT_EQ(ok->answer[8], 0x5A);
  EXPECT_EQ(ok->answerLength, 12u);
  EXPECT_EQ(ok->answeredAt, 1401u);
  EXPECT_EQ(error->state, kStateError);
  EXPECT_EQ(error->AnswerStatus(), 0x85);
  EXPECT_EQ(wrongSender->state, kStateNoAnswer) << "an answer from another module is not its";
  EXPECT_EQ(shortAnswer->state, kStateNoAnswer) << "an answer under 8 bytes is not matched";
  EXPECT_EQ(late->state, kStateNoAnswer);
  EXPECT_EQ(waiting->state, kStateSent) << "201 ms after sending it may still come";
}

TEST(MatchPass, TheTimeOutIsFourHundredMilliseconds) {
  for (const auto& [elapsed, state] : {std::pair{400u, kStateSent}, {401u, kStateNoAnswer}}) {
    CRequestQueue queue;
    CTagRequest* r = Sent(queue, "10.0.0.1", 0xFFFFFF00u);  // across the tick counter's wrap
    std::vector<std::unique_ptr<CUDPacket>> pass;
    std::lock_guard<std::mutex> lock(queue.Lock());
    const PassOutcome outcome = MatchPass(queue.Items(), pass, 0xFFFFFF00u + elapsed);
    EXPECT_EQ(r->state, state) << elapsed;
    EXPECT_EQ(outcome.failed, state == kStateNoAnswer);
  }
}

TEST(MatchPass, TheFirstAnswerOfThePassWinsABroadcast) {
  CRequestQueue queue;
  CTagRequest* r = Sent(queue, "255.255.255.255", 1000);
  std::vector<std::unique_ptr<CUDPacket>> pass;
  pass.push_back(Packet("10.0.0.8", static_cast<uint16_t>(r->id + 1), 0x40, 0x01));
  pass.push_back(Packet("10.0.0.2", r->id, 0x40, 0x22));
  pass.push_back(Packet("10.0.0.3", r->id, 0x40, 0x33));
  std::lock_guard<std::mutex> lock(queue.Lock());
  MatchPass(queue.Items(), pass, 1001);
  EXPECT_EQ(r->state, kStateAnswered);
  EXPECT_EQ(r->answer[8], 0x22);
}

}  // namespace
}  // namespace plc
