#pragma once
// The ModuleLink of a real module: the register client on TCP 502, an ICMP echo, the flash
// image on UDP 55557, the service text port on TCP 23 and TFTP on UDP 69.
#include <memory>
#include <string>

#include "backup/backup_job.h"

namespace backup {

struct LinkPorts {
  uint16_t modbus = 502;
  uint16_t service = 23;
  uint16_t tftp = 69;
  uint16_t flashImage = 55557;
};

std::unique_ptr<ModuleLink> MakeModuleLink(const std::string& ipText, const LinkPorts& ports = {});

}  // namespace backup
