#include "plc/plc_data_model.h"

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/bytes.h"
#include "base/format.h"

namespace plc {

std::vector<BlockRead> PlanBlockReads(uint32_t dataSize) {
  const uint32_t size = std::min<uint32_t>(dataSize, kMaxDataSize);
  std::vector<BlockRead> reads;
  for (uint32_t start = 0; start < size; start += kBlockSize) {
    reads.push_back({static_cast<uint16_t>(start),
                     static_cast<uint16_t>(std::min<uint32_t>(kBlockSize, size - start))});
  }
  return reads;
}

int32_t ImageValue(const std::vector<uint8_t>& image, uint32_t offset, uint16_t size) {
  if (offset > image.size() || image.size() - offset < size) return 0;
  const uint8_t* p = image.data() + offset;
  switch (size) {
    case 1:
      return static_cast<int8_t>(p[0]);
    case 2:
      return static_cast<int16_t>(base::GetLE16(p));
    default:
      return static_cast<int32_t>(base::GetLE32(p));
  }
}

std::string RangeMessage(const PlcTag& tag) {
  return base::Format("Ungültige Wegeinstellung. Es sind nur Werte von %d bis %d %s gültig von %s.",
                      tag.minimum, tag.maximum, tag.unit.c_str(), tag.name.c_str());
}

std::string ProgramKey(const std::string& name) {
  std::string key;
  for (const char c : name) key += static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
  constexpr std::string_view kPrefix = "plcdata_";
  constexpr std::string_view kEnding = ".bin";
  if (key.compare(0, kPrefix.size(), kPrefix) == 0) key.erase(0, kPrefix.size());
  if (key.size() >= kEnding.size() &&
      key.compare(key.size() - kEnding.size(), kEnding.size(), kEnding) == 0)
    key.erase(key.size() - kEnding.size());
  return key;
}

std::string ProgramMismatch(const std::string& tagProgram, const std::string& address,
                            const ModuleProgram& module) {
  const std::string tags = "the tags are for \"" + tagProgram + "\"";
  if (ProgramKey(tagProgram).empty())
    return "the tag file names no \"program\", so its offsets cannot be tied to the PLC "
           "program of module " +
           address;
  if (!module.read)
    return "the PLC program of module " + address + " could not be read (" + module.failure +
           "); " + tags;
  if (!module.hasProgram) return "module " + address + " runs no PLC program; " + tags;
  if (module.name.empty())
    return "the PLC program of module " + address + " carries no name; " + tags;
  if (ProgramKey(module.name) != ProgramKey(tagProgram))
    return "module " + address + " runs the PLC program \"" + module.name + "\"; " + tags;
  return "";
}

CPlcDataModel::CPlcDataModel()
    : image_(kMaxDataSize, 0), shown_(kMaxDataSize, 0), received_(kMaxDataSize / kBlockSize) {}

void CPlcDataModel::SetProgram(PlcProgramInfo info) {
  program_ = std::move(info);
  hasProgram_ = true;
  std::fill(received_.begin(), received_.end(), false);
}

void CPlcDataModel::SetAddress(const std::string& address) {
  if (address == address_) return;
  address_ = address;
  std::fill(image_.begin(), image_.end(), 0);
  std::fill(shown_.begin(), shown_.end(), 0);
  std::fill(received_.begin(), received_.end(), false);
}

uint32_t CPlcDataModel::ReadSize() const {
  return std::min<uint32_t>(program_.dataSize, kMaxDataSize);
}

std::vector<CTagRequest> CPlcDataModel::BlockRequests(const std::string& address) const {
  std::vector<CTagRequest> requests;
  for (const BlockRead& read : PlanBlockReads(program_.dataSize))
    requests.push_back(CTagRequest::Read(address, read.dataAddress, read.count));
  return requests;
}

CPlcDataModel::AnswerResult CPlcDataModel::HandleAnswers(CRequestQueue& queue) {
  AnswerResult result;
  const uint32_t size = ReadSize();
  const size_t lastBlock = size == 0 ? 0 : (size - 1) / kBlockSize;
  std::lock_guard<std::mutex> lock(queue.Lock());
  auto& items = queue.Items();
  for (size_t i = items.size(); i-- > 0;) {
    CTagRequest& request = *items[i];
    if (request.state != kStateAnswered) continue;
    if (request.kind == kKindRead && (address_.empty() || request.address == address_)) {
      // An answer never fills more than was asked, nor past the program's data.
      size_t n = std::min<size_t>(size, request.AnswerDataLength());
      n = std::min<size_t>(n, request.count);
      if (request.dataAddress < size)
        n = std::min<size_t>(n, size - request.dataAddress);
      else
        n = 0;
      if (n) std::memcpy(image_.data() + request.dataAddress, request.AnswerData(), n);
      const size_t block = request.dataAddress / kBlockSize;
      if (block < received_.size()) received_[block] = true;
      // The refresh waits for the end of the walk: earlier blocks answered in the same pass
      // come later in it (the walk goes from last to first) and belong to the same image.
      if (block == lastBlock && size > 0) result.refreshed = true;
    }
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
    ++result.taken;
  }
  if (result.refreshed) {
    shown_ = image_;
    ++refreshes_;
  }
  return result;
}

std::vector<std::string> CPlcDataModel::TakeFailures(CRequestQueue& queue) {
  std::vector<std::string> lines;
  std::lock_guard<std::mutex> lock(queue.Lock());
  auto& items = queue.Items();
  for (size_t i = items.size(); i-- > 0;) {
    const CTagRequest& r = *items[i];
    if (r.state != kStateError && r.state != kStateNoAnswer && r.state != kStateSendFailed)
      continue;
    std::string line = base::Format("%s: request %u (kind %u, address %u): %s", r.address.c_str(),
                                    r.id, r.kind, r.dataAddress, StateText(r.state).c_str());
    if (r.state == kStateError) line += base::Format(" (status 0x%02X)", r.AnswerStatus());
    lines.insert(lines.begin(), line);
    items.erase(items.begin() + static_cast<std::ptrdiff_t>(i));
  }
  return lines;
}

bool CPlcDataModel::CheckValue(const PlcTag& tag) const {
  const uint32_t value = static_cast<uint32_t>(ImageValue(shown_, tag.offset, 4));
  return (value >> (tag.bit & 31)) & 1u;
}

int32_t CPlcDataModel::Value(const PlcTag& tag) const {
  return ImageValue(shown_, tag.offset, TagValueSize(tag.type));
}

int CPlcDataModel::ComboIndex(const PlcTag& tag) const {
  const int32_t value = Value(tag);
  for (size_t i = 0; i < tag.items.size(); ++i)
    if (tag.items[i].value == value) return static_cast<int>(i);
  return -1;
}

std::string CPlcDataModel::ValueText(const PlcTag& tag) const {
  switch (tag.control) {
    case kControlCheck:
      return CheckValue(tag) ? "1" : "0";
    case kControlCombo: {
      const int index = ComboIndex(tag);
      return index < 0 ? base::Format("(%d)", Value(tag))
                       : tag.items[static_cast<size_t>(index)].text;
    }
    default:
      return base::Format("%d", Value(tag));
  }
}

CTagRequest CPlcDataModel::CheckRequest(const std::string& address, const PlcTag& tag,
                                        bool ticked) const {
  return CTagRequest::Bit(address, static_cast<uint16_t>(baseAddress + tag.offset), tag.bit,
                          ticked);
}

EditOutcome CPlcDataModel::EditRequest(const std::string& address, const PlcTag& tag,
                                       const std::string& text) const {
  EditOutcome outcome;
  // Only a plain whole number: text that is not one is refused like a value out of range.
  size_t start = 0;
  while (start < text.size() && (text[start] == ' ' || text[start] == '\t')) ++start;
  size_t end = text.size();
  while (end > start && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  const std::string number = text.substr(start, end - start);
  bool plain = !number.empty() && number.size() <= 11;
  for (size_t i = 0; plain && i < number.size(); ++i) {
    const char c = number[i];
    plain = (c >= '0' && c <= '9') || (i == 0 && c == '-' && number.size() > 1);
  }
  const long long value = plain ? std::stoll(number) : 0;
  if (!plain || value < tag.minimum || value > tag.maximum) {
    outcome.caption = kRangeCaption;
    outcome.message = RangeMessage(tag);
    return outcome;
  }
  outcome.request = CTagRequest::Write(address, static_cast<uint16_t>(baseAddress + tag.offset),
                                       TagValueSize(tag.type), static_cast<uint32_t>(value));
  return outcome;
}

std::optional<CTagRequest> CPlcDataModel::ComboRequest(const std::string& address,
                                                       const PlcTag& tag, int index) const {
  if (index < 0 || static_cast<size_t>(index) >= tag.items.size()) return std::nullopt;
  return CTagRequest::Write(address, static_cast<uint16_t>(baseAddress + tag.offset),
                            TagValueSize(tag.type),
                            static_cast<uint32_t>(tag.items[static_cast<size_t>(index)].value));
}

}  // namespace plc
