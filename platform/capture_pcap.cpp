// Packet capture over libpcap. libpcap's read time-out does not make a blocking read return
// on Linux, so a handle is opened in immediate mode, set non-blocking, and every wait is a
// poll() on its selectable descriptor, measured by the tick counter.
//
// libpcap is loaded when the first capture is listed or opened, not at program start: it
// brings a dozen libraries with it, and most command-line runs never capture.
#include <dlfcn.h>
#include <pcap/pcap.h>
#include <poll.h>

#include <cerrno>
#include <cstring>
#include <mutex>

#include "platform/adapters.h"
#include "platform/capture.h"
#include "platform/capture_rights.h"
#include "platform/tick.h"

namespace platform {
namespace {

// The libpcap functions this driver calls, resolved once from the loaded library.
struct PcapApi {
  decltype(&::pcap_get_selectable_fd) get_selectable_fd = nullptr;
  decltype(&::pcap_close) close = nullptr;
  decltype(&::pcap_sendpacket) sendpacket = nullptr;
  decltype(&::pcap_geterr) geterr = nullptr;
  decltype(&::pcap_next_ex) next_ex = nullptr;
  decltype(&::pcap_findalldevs) findalldevs = nullptr;
  decltype(&::pcap_freealldevs) freealldevs = nullptr;
  decltype(&::pcap_create) create = nullptr;
  decltype(&::pcap_set_snaplen) set_snaplen = nullptr;
  decltype(&::pcap_set_promisc) set_promisc = nullptr;
  decltype(&::pcap_set_immediate_mode) set_immediate_mode = nullptr;
  decltype(&::pcap_activate) activate = nullptr;
  decltype(&::pcap_statustostr) statustostr = nullptr;
  decltype(&::pcap_setnonblock) setnonblock = nullptr;
  std::string loadError;  // empty when every function was found
};

template <typename Function>
bool Resolve(void* library, const char* name, Function& function, std::string& error) {
  function = reinterpret_cast<Function>(dlsym(library, name));
  if (function == nullptr && error.empty()) error = std::string("libpcap lacks ") + name;
  return function != nullptr;
}

// The library, loaded on first use and kept for the rest of the run; null with the reason in
// *error when it cannot be loaded.
const PcapApi* Pcap(std::string* error) {
  static PcapApi api;
  static std::once_flag loaded;
  std::call_once(loaded, [] {
    void* library = nullptr;
    // The run-time names of the library (Debian's, then the upstream ones).
    for (const char* name : {"libpcap.so.0.8", "libpcap.so.1", "libpcap.so"}) {
      library = dlopen(name, RTLD_NOW | RTLD_LOCAL);
      if (library != nullptr) break;
    }
    if (library == nullptr) {
      const char* reason = dlerror();
      api.loadError = std::string("libpcap cannot be loaded: ") + (reason ? reason : "not found");
      return;
    }
    std::string& why = api.loadError;
    Resolve(library, "pcap_get_selectable_fd", api.get_selectable_fd, why);
    Resolve(library, "pcap_close", api.close, why);
    Resolve(library, "pcap_sendpacket", api.sendpacket, why);
    Resolve(library, "pcap_geterr", api.geterr, why);
    Resolve(library, "pcap_next_ex", api.next_ex, why);
    Resolve(library, "pcap_findalldevs", api.findalldevs, why);
    Resolve(library, "pcap_freealldevs", api.freealldevs, why);
    Resolve(library, "pcap_create", api.create, why);
    Resolve(library, "pcap_set_snaplen", api.set_snaplen, why);
    Resolve(library, "pcap_set_promisc", api.set_promisc, why);
    Resolve(library, "pcap_set_immediate_mode", api.set_immediate_mode, why);
    Resolve(library, "pcap_activate", api.activate, why);
    Resolve(library, "pcap_statustostr", api.statustostr, why);
    Resolve(library, "pcap_setnonblock", api.setnonblock, why);
  });
  if (!api.loadError.empty()) {
    if (error) *error = api.loadError;
    return nullptr;
  }
  return &api;
}

bool LooksLikePermissionError(const std::string& text) {
  return text.find("ermission") != std::string::npos ||
         text.find("not permitted") != std::string::npos ||
         text.find("CAP_NET") != std::string::npos;
}

class PcapHandle : public CaptureHandle {
 public:
  PcapHandle(const PcapApi& api, pcap_t* pcap)
      : api_(api), pcap_(pcap), fd_(api.get_selectable_fd(pcap)) {}
  ~PcapHandle() override { api_.close(pcap_); }
  PcapHandle(const PcapHandle&) = delete;
  PcapHandle& operator=(const PcapHandle&) = delete;

  bool Send(const uint8_t* frame, size_t length) override {
    if (frame == nullptr || length == 0 || length > 65535) {
      lastError_ = "invalid frame length " + std::to_string(length);
      return false;
    }
    if (api_.sendpacket(pcap_, frame, static_cast<int>(length)) != 0) {
      lastError_ = api_.geterr(pcap_);
      return false;
    }
    return true;
  }

  bool Read(std::vector<uint8_t>& frame, uint32_t timeoutMs) override {
    const uint32_t start = GetTickCount();
    for (;;) {
      pcap_pkthdr* header = nullptr;
      const u_char* data = nullptr;
      const int result = api_.next_ex(pcap_, &header, &data);
      if (result == 1) {
        frame.assign(data, data + header->caplen);
        return true;
      }
      if (result < 0) {
        lastError_ = api_.geterr(pcap_);
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
  const PcapApi& api_;
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
    const PcapApi* pcap = Pcap(&list.error);
    if (pcap == nullptr) return list;
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_if_t* devices = nullptr;
    if (pcap->findalldevs(&devices, errorText) != 0) {
      list.error = errorText;
      list.permissionDenied = LooksLikePermissionError(list.error);
      return list;
    }
    const std::optional<std::vector<AdapterInfo>> adapters = ListAdapters();
    if (!adapters) {
      pcap->freealldevs(devices);
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
    pcap->freealldevs(devices);
    list.ok = true;
    return list;
  }

  std::unique_ptr<CaptureHandle> Open(const std::string& device, int snapLength, bool promiscuous,
                                      std::string* error) override {
    const PcapApi* api = Pcap(error);
    if (api == nullptr) return nullptr;
    char errorText[PCAP_ERRBUF_SIZE] = {};
    pcap_t* pcap = api->create(device.c_str(), errorText);
    if (pcap == nullptr) {
      if (error) *error = errorText;
      return nullptr;
    }
    api->set_snaplen(pcap, snapLength);
    api->set_promisc(pcap, promiscuous ? 1 : 0);
    api->set_immediate_mode(pcap, 1);
    const int activated = api->activate(pcap);
    if (activated < 0) {
      std::string text = api->statustostr(activated);
      const std::string detail = api->geterr(pcap);
      if (!detail.empty()) text += ": " + detail;
      if (activated == PCAP_ERROR_PERM_DENIED) text += " (" + CaptureRightsHelp() + ")";
      if (error) *error = text;
      api->close(pcap);
      return nullptr;
    }
    if (api->setnonblock(pcap, 1, errorText) != 0) {
      if (error) *error = errorText;
      api->close(pcap);
      return nullptr;
    }
    return std::make_unique<PcapHandle>(*api, pcap);
  }
};

}  // namespace

std::unique_ptr<CaptureDriver> MakePcapDriver() {
  return std::make_unique<PcapDriver>();
}

}  // namespace platform
