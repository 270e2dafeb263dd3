// Packet capture over libpcap. libpcap's read time-out does not make a blocking read return
// on Linux, so a handle is opened in immediate mode, set non-blocking, and every wait is a
// poll() on its selectable descriptor, measured by the tick counter.
#include <pcap/pcap.h>
#include <poll.h>

#include <cerrno>
#include <cstring>

#include "platform/adapters.h"
#include "platform/capture.h"
#include "platform/capture_rights.h"
#include "platform/tick.h"

namespace platform {
namespace {

bool LooksLikePermissionError(const std::string& text) {
  return text.find("ermission") != std::string::npos ||
         text.find("not permitted") != std::string::npos ||
         text.find("CAP_NET") != std::string::npos;
}

class PcapHandle : public CaptureHandle {
 public:
  explicit PcapHandle(pcap_t* pcap) : pcap_(pcap), fd_(pcap_get_selectable_fd(pcap)) {}
  ~PcapHandle() override { pcap_close(pcap_); }
  PcapHandle(const PcapHandle&) = delete;
  PcapHandle& operator=(const PcapHandle&) = delete;

  bool Send(const uint8_t* frame, size_t length) override {
    if (frame == nullptr || length == 0 || length > 65535) {
      lastError_ = "invalid frame length " + std::to_string(length);
      return false;
    }
    if (pcap_sendpacket(pcap_, frame, static_cast<int>(length)) != 0) {
      lastError_ = pcap_geterr(pcap_);
      return false;
    }
    return true;
  }

  bool Read(std::vector<uint8_t>& frame, uint32_t timeoutMs) override {
    const uint32_t start = GetTickCount();
    for (;;) {
      pcap_pkthdr* header = nullptr;
      const u_char* data = nullptr;
      const int result = pcap_next_ex(pcap_, &header, &data);
      if (result == 1) {
        frame.assign(data, data + header->caplen);
        return true;
      }
      if (result < 0) {
        lastError_ = pcap_geterr(pcap_);
        return false;
      }
      const uint32_t elapsed = TicksSince(start);
      if (elapsed >= timeoutMs) return false;
      if (fd_ < 0) {
        SleepMs(1);  // no descriptor to wait on (not on Linux)
        continue;
      }
      pollfd wait{fd_, POLLIN, 0};
      const int ready = poll(&wait, 1, static_cast<int>(timeoutMs - elapsed));
      if (ready < 0 && errno != EINTR) {
        lastError_ = std::string("poll: ") + strerror(errno);
        return false;
      }
      if (ready > 0 && (wait.revents & (POLLERR | POLLNVAL)) != 0 && (wait.revents & POLLIN) == 0) {
        lastError_ = "capture device failed (interface gone?)";
        return false;
      }
    }
  }

  std::string LastError() const override { return lastError_; }

 private:
  pcap_t* pcap_;
  int fd_;
  std::string lastError_;
};

class PcapDriver : public CaptureDriver {
 public:
  CaptureDeviceList ListDevices() override {
    CaptureDeviceList list;
    // On Linux the device list comes without rights; opening fails later. Without the rights
    // the list counts as failed so that the caller's recovery explains how to grant them.
    if (!HasCaptureRights()) {
      list.permissionDenied = true;
      list.error = "no capture rights (CAP_NET_RAW and CAP_NET_ADMIN)";
      return list;
    }
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap_findalldevs(&devices, errorText) != 0) {
      list.error = errorText;
      list.permissionDenied = LooksLikePermissionError(list.error);
      return list;
    }
    const std::optional<std::vector<AdapterInfo>> adapters = ListAdapters();
    if (!adapters) {
      pcap_freealldevs(devices);
      list.error = std::string("getifaddrs: ") + strerror(errno);
      return list;
    }
    for (const pcap_if_t* device = devices; device != nullptr; device = device->next) {
      for (const AdapterInfo& adapter : *adapters) {
        if (adapter.name != device->name) continue;
        list.devices.push_back(CaptureDevice{device->name, adapter.description, device->flags});
        break;
      }
    }
    pcap_freealldevs(devices);
    list.ok = true;
    return list;
  }

  std::unique_ptr<CaptureHandle> Open(const std::string& device, int snapLength, bool promiscuous,
                                      std::string* error) override {
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pcap = pcap_create(device.c_str(), errorText);
    if (pcap == nullptr) {
      if (error) *error = errorText;
      return nullptr;
    }
    pcap_set_snaplen(pcap, snapLength);
    pcap_set_promisc(pcap, promiscuous ? 1 : 0);
    pcap_set_immediate_mode(pcap, 1);
    const int activated = pcap_activate(pcap);
    if (activated < 0) {
      std::string text = pcap_statustostr(activated);
      const std::string detail = pcap_geterr(pcap);
      if (!detail.empty()) text += ": " + detail;
      if (activated == PCAP_ERROR_PERM_DENIED) text += " (" + CaptureRightsHelp() + ")";
      if (error) *error = text;
      pcap_close(pcap);
      return nullptr;
    }
    if (pcap_setnonblock(pcap, 1, errorText) != 0) {
      if (error) *error = errorText;
      pcap_close(pcap);
      return nullptr;
    }
    return std::make_unique<PcapHandle>(pcap);
  }
};

}  // namespace

std::unique_ptr<CaptureDriver> MakePcapDriver() {
  return std::make_unique<PcapDriver>();
}

}  // namespace platform
