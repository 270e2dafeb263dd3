#pragma once
// Raw Ethernet frames: list capture devices, open one, send a frame, read a frame.
// The core talks to CaptureDriver so that tests can put a fake in its place.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace platform {

struct CaptureDevice {
  std::string name;
  std::string description;
  uint32_t flags = 0;  // the capture library's device flags
};

struct CaptureDeviceList {
  bool ok = false;                 // false when the list could not be made
  bool permissionDenied = false;   // true when it failed for lack of capture rights
  std::string error;               // the library's error text
  std::vector<CaptureDevice> devices;  // only devices that are adapters
};

class CaptureHandle {
 public:
  virtual ~CaptureHandle() = default;
  // Sends one whole frame; false on failure (error text in LastError()).
  virtual bool Send(const uint8_t* frame, size_t length) = 0;
  // Waits at most timeoutMs (measured by the tick counter) for one frame and copies it into
  // `frame`. Returns false when none came in time or on error. timeoutMs 0 only takes a frame
  // that is already pending.
  virtual bool Read(std::vector<uint8_t>& frame, uint32_t timeoutMs) = 0;
  virtual std::string LastError() const = 0;
};

class CaptureDriver {
 public:
  virtual ~CaptureDriver() = default;
  virtual CaptureDeviceList ListDevices() = 0;
  // Opens a device for sending and capture (promiscuous, immediate). Null on failure, with
  // the reason in *error when given.
  virtual std::unique_ptr<CaptureHandle> Open(const std::string& device, int snapLength,
                                              bool promiscuous, std::string* error) = 0;
};

// The libpcap implementation.
std::unique_ptr<CaptureDriver> MakePcapDriver();

}  // namespace platform
