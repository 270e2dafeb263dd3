#include "backup/archive.h"

#include "base/bytes.h"

namespace backup {

void ArchiveWriter::U8(uint8_t v) {
  m_data.push_back(v);
}

void ArchiveWriter::U16(uint16_t v) {
  uint8_t b[2];
  base::PutLE16(b, v);
  m_data.insert(m_data.end(), b, b + 2);
}

void ArchiveWriter::U32(uint32_t v) {
  uint8_t b[4];
  base::PutLE32(b, v);
  m_data.insert(m_data.end(), b, b + 4);
}

void ArchiveWriter::U64(uint64_t v) {
  U32(static_cast<uint32_t>(v));
  U32(static_cast<uint32_t>(v >> 32));
}

void ArchiveWriter::Raw(std::span<const uint8_t> bytes) {
  m_data.insert(m_data.end(), bytes.begin(), bytes.end());
}

void ArchiveWriter::Text(const std::string& text) {
  const size_t length = text.size();
  if (length < 0xFF) {
    U8(static_cast<uint8_t>(length));
  } else if (length < 0xFFFE) {
    U8(0xFF);
    U16(static_cast<uint16_t>(length));
  } else {
    U8(0xFF);
    U16(0xFFFF);
    U32(static_cast<uint32_t>(length));
  }
  m_data.insert(m_data.end(), text.begin(), text.end());
}

void ArchiveWriter::Count(size_t count) {
  if (count < 0xFFFF) {
    U16(static_cast<uint16_t>(count));
  } else {
    U16(0xFFFF);
    U32(static_cast<uint32_t>(count));
  }
}

void ArchiveWriter::Bytes(const std::vector<uint8_t>& bytes) {
  Count(bytes.size());
  Raw(bytes);
}

void ArchiveWriter::Words(const std::vector<uint16_t>& words) {
  Count(words.size());
  for (uint16_t w : words) U16(w);
}

bool ArchiveReader::Take(size_t bytes, const uint8_t*& at) {
  if (m_failed || bytes > m_data.size() - m_pos) {
    m_failed = true;
    return false;
  }
  at = m_data.data() + m_pos;
  m_pos += bytes;
  return true;
}

bool ArchiveReader::U8(uint8_t& v) {
  const uint8_t* p = nullptr;
  if (!Take(1, p)) return false;
  v = p[0];
  return true;
}

bool ArchiveReader::U16(uint16_t& v) {
  const uint8_t* p = nullptr;
  if (!Take(2, p)) return false;
  v = base::GetLE16(p);
  return true;
}

bool ArchiveReader::U32(uint32_t& v) {
  const uint8_t* p = nullptr;
  if (!Take(4, p)) return false;
  v = base::GetLE32(p);
  return true;
}

bool ArchiveReader::U64(uint64_t& v) {
  const uint8_t* p = nullptr;
  if (!Take(8, p)) return false;
  v = base::GetLE32(p) | (uint64_t{base::GetLE32(p + 4)} << 32);
  return true;
}

bool ArchiveReader::Skip(size_t bytes) {
  const uint8_t* p = nullptr;
  return Take(bytes, p);
}

bool ArchiveReader::Text(std::string& text) {
  uint8_t shortLength = 0;
  if (!U8(shortLength)) return false;
  size_t length = shortLength;
  if (shortLength == 0xFF) {
    uint16_t midLength = 0;
    if (!U16(midLength)) return false;
    length = midLength;
    if (midLength == 0xFFFE) {
      // The marker of a wide-character text, which these files never hold.
      m_failed = true;
      return false;
    }
    if (midLength == 0xFFFF) {
      uint32_t longLength = 0;
      if (!U32(longLength)) return false;
      length = longLength;
    }
  }
  const uint8_t* p = nullptr;
  if (!Take(length, p)) return false;
  text.assign(reinterpret_cast<const char*>(p), length);
  return true;
}

bool ArchiveReader::Count(size_t itemSize, size_t maxItems, size_t& count) {
  uint16_t shortCount = 0;
  if (!U16(shortCount)) return false;
  size_t n = shortCount;
  if (shortCount == 0xFFFF) {
    uint32_t longCount = 0;
    if (!U32(longCount)) return false;
    n = longCount;
  }
  if (n > maxItems || n > Left() / itemSize) {
    m_failed = true;
    return false;
  }
  count = n;
  return true;
}

bool ArchiveReader::Bytes(size_t maxItems, std::vector<uint8_t>& bytes) {
  size_t n = 0;
  const uint8_t* p = nullptr;
  if (!Count(1, maxItems, n) || !Take(n, p)) return false;
  bytes.assign(p, p + n);
  return true;
}

bool ArchiveReader::Words(size_t maxItems, std::vector<uint16_t>& words) {
  size_t n = 0;
  const uint8_t* p = nullptr;
  if (!Count(2, maxItems, n) || !Take(2 * n, p)) return false;
  words.resize(n);
  for (size_t k = 0; k < n; ++k) words[k] = base::GetLE16(p + 2 * k);
  return true;
}

}  // namespace backup
