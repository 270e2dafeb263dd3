// The tool's handling of PLC data answers: the inspection of a datagram, the repetition filter,
// the matching to a sent read and the copy into the data view's image. Nothing may be read
// past the datagram, and the image never grows.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

#include "plc/plc_data_model.h"
#include "plc/request_manager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::vector<uint8_t> datagram(data, data + size);
  plc::InspectAnswer(datagram.data(), datagram.size());
  plc::CRepetitionFilter filter;
  if (!filter.Take(1, "10.0.0.1", datagram.data(), datagram.size())) __builtin_trap();
  if (filter.Take(1, "10.0.0.1", datagram.data(), datagram.size())) __builtin_trap();

  plc::CPlcDataModel model;
  model.SetProgram({"f", 10000, {}});
  plc::CRequestQueue queue;
  // A read whose id the datagram carries, at the block its bytes 8..9 name (any address).
  plc::CTagRequest read = plc::CTagRequest::Read(
      "10.0.0.1", size >= 10 ? static_cast<uint16_t>(data[8] | data[9] << 8) : 0, 1000);
  if (size >= 2) read.id = static_cast<uint16_t>(data[0] | data[1] << 8);
  read.state = plc::kStateSent;
  read.sentAt = 0;
  queue.Append(read);
  auto packet = std::make_unique<plc::CUDPacket>();
  packet->senderText = "10.0.0.1";
  packet->length = static_cast<uint32_t>(std::min(size, plc::kMaxAnswer));
  if (packet->length) std::memcpy(packet->data.data(), data, packet->length);
  std::vector<std::unique_ptr<plc::CUDPacket>> pass;
  pass.push_back(std::move(packet));
  {
    std::lock_guard<std::mutex> lock(queue.Lock());
    plc::MatchPass(queue.Items(), pass, 1);
  }
  model.HandleAnswers(queue);
  if (model.Image().size() != plc::kMaxDataSize) __builtin_trap();
  return 0;
}
