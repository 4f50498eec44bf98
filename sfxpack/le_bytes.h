// Little-endian fields of the ZIP and PE formats, appended to or read from
// byte strings.
#pragma once
#include <cstdint>
#include <string>

namespace sfx {

inline void Put8(std::string& out, uint32_t v) { out += static_cast<char>(v & 0xFF); }
inline void Put16(std::string& out, uint32_t v) {
  Put8(out, v);
  Put8(out, v >> 8);
}
inline void Put32(std::string& out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
inline void Put64(std::string& out, uint64_t v) {
  Put32(out, static_cast<uint32_t>(v));
  Put32(out, static_cast<uint32_t>(v >> 32));
}

inline void Set16(std::string& s, size_t at, uint32_t v) {
  s[at] = static_cast<char>(v & 0xFF);
  s[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
inline void Set32(std::string& s, size_t at, uint32_t v) {
  Set16(s, at, v & 0xFFFF);
  Set16(s, at + 2, v >> 16);
}

inline uint32_t Get16(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return static_cast<uint32_t>(b[0] | (b[1] << 8));
}
inline uint32_t Get32(const void* p) {
  const uint8_t* b = static_cast<const uint8_t*>(p);
  return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
         (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}
inline uint32_t Get16(const std::string& s, size_t at) { return Get16(s.data() + at); }
inline uint32_t Get32(const std::string& s, size_t at) { return Get32(s.data() + at); }

}  // namespace sfx
