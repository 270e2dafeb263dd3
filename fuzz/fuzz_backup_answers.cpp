// The backup's parsers of module answers over any bytes: the totals of "1", "2", "3" and the PLC
// program length of "p" (service text port), and a request to the simulated flash image port.
#include <cstddef>
#include <cstdint>
#include <string>

#include "backup/backup_job.h"
#include "sim/flash_image.h"
#include "sim/line.h"
#include "sim/module.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string answer(reinterpret_cast<const char*>(data), size);
  (void)backup::ParseServiceTotals(answer);
  const auto length = backup::ParsePlcLength(answer);
  // A length is only ever one the bytes spell out, and never more than TFTP can carry.
  if (length && (answer.find("My:") == std::string::npos || *length > 65535u * 512u))
    __builtin_trap();
  static sim::SimModule module([] {
    sim::ModuleSetup setup;
    setup.serial = 1;
    setup.address = 0x14CAA8C0;
    setup.mask = 0x00FFFFFF;
    return setup;
  }());
  const auto image = sim::FlashImageAnswer(module, data, size);
  if (image && (size != 4 || image->size() > 2 * 512)) __builtin_trap();
  return 0;
}
