#pragma once
// The serialisation of backup files: little-endian numbers, texts and arrays with the length
// and count encodings of the Windows archive the files were first written with. The reader
// checks every length and count against the bytes left before it reads or sizes anything, and
// once a read has failed every later read fails too, so a caller may check once at the end.
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace backup {

class ArchiveWriter {
 public:
  void U8(uint8_t v);
  void U16(uint16_t v);
  void U32(uint32_t v);
  void U64(uint64_t v);
  void Raw(std::span<const uint8_t> bytes);
  // Length below 255 as one byte; else 0xFF and a 16-bit length below 0xFFFE; else 0xFF,
  // 0xFFFF and a 32-bit length. Then the bytes, no terminator.
  void Text(const std::string& text);
  // Count below 0xFFFF as a 16-bit word; else 0xFFFF and a 32-bit count. Then the items.
  void Count(size_t count);
  void Bytes(const std::vector<uint8_t>& bytes);
  void Words(const std::vector<uint16_t>& words);

  const std::vector<uint8_t>& Data() const { return m_data; }

 private:
  std::vector<uint8_t> m_data;
};

class ArchiveReader {
 public:
  explicit ArchiveReader(std::span<const uint8_t> data) : m_data(data) {}

  // Each returns false (and leaves its output alone) when the bytes left do not hold the item;
  // the reader then stays failed.
  bool U8(uint8_t& v);
  bool U16(uint16_t& v);
  bool U32(uint32_t& v);
  bool U64(uint64_t& v);
  bool Skip(size_t bytes);
  bool Text(std::string& text);
  // The count of an array, refused when above maxItems or when its items of itemSize bytes
  // would run past the end.
  bool Count(size_t itemSize, size_t maxItems, size_t& count);
  bool Bytes(size_t maxItems, std::vector<uint8_t>& bytes);
  bool Words(size_t maxItems, std::vector<uint16_t>& words);

  bool Failed() const { return m_failed; }
  size_t Left() const { return m_failed ? 0 : m_data.size() - m_pos; }
  bool AtEnd() const { return !m_failed && m_pos == m_data.size(); }

 private:
  bool Take(size_t bytes, const uint8_t*& at);

  std::span<const uint8_t> m_data;
  size_t m_pos = 0;
  bool m_failed = false;
};

}  // namespace backup
