// The loaders of stored files read from a path: each fuzz input is written to a file of the
// process's own first, and whatever the loader wants to tell the user is dropped.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/prompter.h"

namespace kavo::fuzz {

class SilentPrompter final : public Prompter {
 public:
  PromptAnswer Ask(const std::u16string&, const std::u16string&, PromptIcon,
                   PromptButtons) override {
    return PromptAnswer::Ok;
  }
};

inline std::filesystem::path WriteInput(const char* name, const uint8_t* data, size_t size) {
  const std::filesystem::path path = std::filesystem::temp_directory_path() /
                                     (std::string(name) + "-" + std::to_string(::getpid()));
  std::ofstream(path, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  return path;
}

}  // namespace kavo::fuzz
