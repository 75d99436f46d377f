// Writing and reading the small stored files (.qsv, .psi) field by field, little-endian.
#pragma once

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/prompter.h"
#include "platform/bytes.h"

namespace kavo {

class StoredFileWriter {
 public:
  explicit StoredFileWriter(const std::filesystem::path& path)
      : m_out(path, std::ios::binary | std::ios::trunc) {}
  bool Open() const { return m_out.is_open(); }
  bool Put(const void* data, size_t bytes) {
    m_out.write(static_cast<const char*>(data), static_cast<std::streamsize>(bytes));
    return static_cast<bool>(m_out);
  }
  bool PutByte(uint8_t b) { return Put(&b, 1); }
  bool Put32(uint32_t v) {
    uint8_t b[4];
    StoreLe32(b, v);
    return Put(b, 4);
  }
  bool Put64(uint64_t v) {
    uint8_t b[8];
    StoreLe64(b, v);
    return Put(b, 8);
  }
  bool Close() {
    m_out.close();
    return !m_out.fail();
  }

 private:
  std::ofstream m_out;
};

// Reads as the loaders must: bytes past the end of the file read as zeros.
class StoredFileReader {
 public:
  explicit StoredFileReader(const std::filesystem::path& path) : m_in(path, std::ios::binary) {}
  bool Open() const { return m_in.is_open(); }
  // Fills `bytes` bytes; false (the rest zeroed) at the end of the file.
  bool Get(void* data, size_t bytes) {
    std::memset(data, 0, bytes);
    if (m_atEnd) return false;
    m_in.read(static_cast<char*>(data), static_cast<std::streamsize>(bytes));
    if (static_cast<size_t>(m_in.gcount()) != bytes) m_atEnd = true;
    return !m_atEnd;
  }

 private:
  std::ifstream m_in;
  bool m_atEnd = false;
};

inline void Tell(Prompter& prompter, const std::u16string& text, const char16_t* caption,
                 PromptIcon icon) {
  prompter.Ask(text, caption, icon, PromptButtons::Ok);
}

// A message with "%u" filled with the error code of the last failed system call.
inline std::u16string ErrorCodeText(const char* format) {
  char text[120];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(errno));
  return std::u16string(text, text + std::strlen(text));
}

}  // namespace kavo
