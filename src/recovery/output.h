// Where extraction writes a node's data: a file being created, or memory in tests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace kavo {

class FileOutput {
 public:
  virtual ~FileOutput() = default;
  // Appends `bytes` bytes. False when the write failed or was short.
  virtual bool Write(const uint8_t* data, size_t bytes) = 0;
};

// Collects the written bytes in memory.
class MemoryOutput final : public FileOutput {
 public:
  bool Write(const uint8_t* data, size_t bytes) override {
    this->bytes.insert(this->bytes.end(), data, data + bytes);
    return true;
  }
  std::vector<uint8_t> bytes;
};

}  // namespace kavo
