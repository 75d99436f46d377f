// A prompter that answers OK and keeps what it was told, as "Caption: text".
#pragma once

#include <string>
#include <vector>

#include "base/prompter.h"

namespace kavo::test {

class RecordingPrompter final : public Prompter {
 public:
  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption, PromptIcon,
                   PromptButtons) override {
    said.push_back(caption + u": " + text);
    return PromptAnswer::Ok;
  }
  std::vector<std::u16string> said;
};

}  // namespace kavo::test
