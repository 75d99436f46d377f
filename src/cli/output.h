// Text and JSON output of kavo-cli.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/prompter.h"

namespace kavo::cli {

void Out(std::string_view utf8);
void Err(std::string_view utf8);

// `text` filled with spaces to `width`; a longer text keeps two spaces before the next column.
std::string Pad(std::string text, size_t width);

// "kavo-cli: <message>\n" on stderr.
void ErrorLine(std::string_view message);

// Questions and notices of the core, on a command line that has no one to answer them: the text
// goes to stderr with its caption, and the answer is the default (OK).
class StderrPrompter final : public Prompter {
 public:
  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption, PromptIcon,
                   PromptButtons) override;
};

// A JSON string literal, quotes included.
std::string JsonString(std::string_view utf8);
std::string JsonString(std::u16string_view utf16);

// Builds one JSON object, fields in the order they are added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::string_view utf8);
  JsonObject& Add(std::string_view key, std::u16string_view utf16);
  JsonObject& Add(std::string_view key, const char* utf8) {
    return Add(key, std::string_view(utf8));
  }
  JsonObject& Add(std::string_view key, uint64_t number);
  JsonObject& Add(std::string_view key, int number) {
    return Add(key, static_cast<int64_t>(number));
  }
  JsonObject& Add(std::string_view key, int64_t number);
  JsonObject& Add(std::string_view key, unsigned number) {
    return Add(key, static_cast<uint64_t>(number));
  }
  JsonObject& AddBool(std::string_view key, bool value);
  // A value already in JSON form (null, a nested object).
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  std::string Str() const { return m_text + "}"; }

 private:
  void Key(std::string_view key);
  std::string m_text = "{";
};

}  // namespace kavo::cli
