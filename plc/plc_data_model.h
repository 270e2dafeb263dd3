#pragma once
// What the PLC data view knows, apart from its widgets: the program's tags, the data image read
// from the module in 1000-byte blocks, the requests its controls make and the handling of the
// answers. Qt-free, so that the view, `quillmar-cli plcdata watch` and the tests share it.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plc/request_manager.h"
#include "plc/tag_file.h"
#include "plc/tag_request.h"

namespace plc {

inline constexpr const char* kInitialAddress = "192.168.6.21";
inline constexpr uint32_t kReadCycleMs = 1000;  // the periodic block reads

struct BlockRead {
  uint16_t dataAddress = 0;
  uint16_t count = 0;
};
// One read per 1000-byte block of the first min(dataSize, 10000) bytes.
std::vector<BlockRead> PlanBlockReads(uint32_t dataSize);

// The value of `size` bytes at `offset` of `image`, read as signed (1 and 2 bytes) or 32-bit;
// 0 when the bytes lie outside the image.
int32_t ImageValue(const std::vector<uint8_t>& image, uint32_t offset, uint16_t size);

// What a module tells of the PLC program it runs (its service port and a TFTP download).
struct ModuleProgram {
  bool read = false;  // the module could be asked (and the whole program downloaded)
  bool hasProgram = false;
  std::string name;     // "PLCDATA_Sorter.bin"; "" when the program names none
  std::string failure;  // why it could not be read
};
using ModuleProgramReader = std::function<ModuleProgram(const std::string& address)>;

// A program's name as tag files and modules give it, without "PLCDATA_" and ".bin", in lower
// case (program files come from a file system that ignores case): "sorter".
std::string ProgramKey(const std::string& name);
// Why the tags of `tagProgram` do not belong to the module at `address`, which told `module`
// (a text that names both); "" when the module runs the program the tags describe.
std::string ProgramMismatch(const std::string& tagProgram, const std::string& address,
                            const ModuleProgram& module);
inline constexpr const char* kNothingWritten = "Nothing written: ";

struct EditOutcome {
  std::optional<CTagRequest> request;
  std::string caption;  // the refusal's message box, when there is no request
  std::string message;
};

class CPlcDataModel {
 public:
  CPlcDataModel();

  void SetProgram(PlcProgramInfo info);
  // The module whose data the image holds. Another one empties the image: its data area has
  // nothing to do with the previous module's.
  void SetAddress(const std::string& address);
  const std::string& Address() const { return address_; }
  const PlcProgramInfo& Program() const { return program_; }
  bool HasProgram() const { return hasProgram_; }
  uint32_t ReadSize() const;

  uint16_t baseAddress = 0;  // added to tag offsets for writes

  // The periodic read: one request per block.
  std::vector<CTagRequest> BlockRequests(const std::string& address) const;

  struct AnswerResult {
    size_t taken = 0;        // requests in state 4 removed from the queue
    bool refreshed = false;  // the last block came: the tags show the image
  };
  // Answer handling: every answered request (state 4) leaves the queue; read data go into the
  // image at their address (never past the request's count or the image's end). Answers of
  // another module than the one set (a request made before a change of module) are dropped.
  AnswerResult HandleAnswers(CRequestQueue& queue);
  // Removes the requests that ended without an answer (error answer, no answer, send failed)
  // and returns a line for each.
  std::vector<std::string> TakeFailures(CRequestQueue& queue);

  // The tags' values as the image holds them since the last refresh.
  bool CheckValue(const PlcTag& tag) const;
  int32_t Value(const PlcTag& tag) const;
  int ComboIndex(const PlcTag& tag) const;  // -1: no item has the value
  std::string ValueText(const PlcTag& tag) const;
  uint64_t Refreshes() const { return refreshes_; }
  const std::vector<uint8_t>& Image() const { return image_; }
  bool BlockReceived(size_t block) const { return block < received_.size() && received_[block]; }

  // The requests of the controls.
  CTagRequest CheckRequest(const std::string& address, const PlcTag& tag, bool ticked) const;
  EditOutcome EditRequest(const std::string& address, const PlcTag& tag,
                          const std::string& text) const;
  std::optional<CTagRequest> ComboRequest(const std::string& address, const PlcTag& tag,
                                          int index) const;

 private:
  PlcProgramInfo program_;
  bool hasProgram_ = false;
  std::string address_;
  std::vector<uint8_t> image_;  // the data image as read
  std::vector<uint8_t> shown_;  // the image as of the last refresh: what the tags show
  std::vector<bool> received_;
  uint64_t refreshes_ = 0;
};

// The range message of an edit tag.
std::string RangeMessage(const PlcTag& tag);
inline constexpr const char* kRangeCaption = "Achtung";

}  // namespace plc
