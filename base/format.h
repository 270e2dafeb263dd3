#pragma once
// printf-style formatting. The texts the tool shows and logs are printf formats and are kept
// verbatim; the format attribute makes the compiler check every call's arguments.
#include <cstdarg>
#include <cstdint>
#include <string>

namespace base {

std::string Format(const char* format, ...) __attribute__((format(printf, 1, 2)));
std::string FormatV(const char* format, va_list args) __attribute__((format(printf, 1, 0)));

// "%d.%d.%d.%d" of an IPv4 address held in network order.
std::string Ipv4Text(uint32_t addressNetworkOrder);
// "%02X:%02X:%02X:%02X:%02X:%02X".
std::string MacText(const unsigned char* mac);

}  // namespace base
