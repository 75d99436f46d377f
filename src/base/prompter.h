// The few questions and notices that core routines put to the user: a message box in the shell,
// stderr and command-line flags in kavo-cli, a script in tests.
#pragma once

#include <string>

namespace kavo {

enum class PromptIcon { None, Information, Warning, Error, Question };
enum class PromptButtons { Ok, OkCancel, YesNo, YesNoCancel, RetryCancel };
enum class PromptAnswer { Ok, Cancel, Yes, No, Retry };

class Prompter {
 public:
  virtual ~Prompter() = default;
  virtual PromptAnswer Ask(const std::u16string& text, const std::u16string& caption,
                           PromptIcon icon, PromptButtons buttons) = 0;
};

}  // namespace kavo
