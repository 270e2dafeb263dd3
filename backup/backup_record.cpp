#include "backup/backup_record.h"

namespace backup {

uint16_t RegisterSlotsFor(uint16_t firmwareVersion) {
  const unsigned major = firmwareVersion >> 8;
  const unsigned minor = firmwareVersion & 0xFF;
  if (major > 4 || (major == 4 && minor != 0)) return kSlotsFrom4_1;
  if (major > 3 || (major == 3 && minor >= 19)) return kSlotsFrom3_19;
  return kSlotsBefore3_19;
}

}  // namespace backup
