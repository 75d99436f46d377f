#include "cli/output.h"

#include <cstdio>

#include "platform/console.h"
#include "platform/text.h"

namespace kavo::cli {

void Out(std::string_view utf8) {
  platform::Write(platform::Stream::Out, utf8);
}
void Err(std::string_view utf8) {
  platform::Write(platform::Stream::Err, utf8);
}

std::string Pad(std::string text, size_t width) {
  text.append(text.size() + 2 <= width ? width - text.size() : 2, ' ');
  return text;
}

void ErrorLine(std::string_view message) {
  std::string line = "kavo-cli: ";
  line += message;
  line += '\n';
  Err(line);
}

PromptAnswer StderrPrompter::Ask(const std::u16string& text, const std::u16string& caption,
                                 PromptIcon, PromptButtons) {
  ErrorLine(platform::Utf16ToUtf8(caption) + ": " + platform::Utf16ToUtf8(text));
  return PromptAnswer::Ok;
}

std::string JsonString(std::string_view utf8) {
  std::string out = "\"";
  for (const char ch : utf8) {
    const auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20 || c == 0x7F) {
          char esc[8];
          std::snprintf(esc, sizeof esc, "\\u%04x", c);
          out += esc;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

std::string JsonString(std::u16string_view utf16) {
  return JsonString(platform::Utf16ToUtf8(utf16));
}

void JsonObject::Key(std::string_view key) {
  if (m_text.size() > 1) m_text += ',';
  m_text += JsonString(key);
  m_text += ':';
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view utf8) {
  Key(key);
  m_text += JsonString(utf8);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::u16string_view utf16) {
  Key(key);
  m_text += JsonString(utf16);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, uint64_t number) {
  Key(key);
  m_text += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, int64_t number) {
  Key(key);
  m_text += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  m_text += json;
  return *this;
}

JsonObject& JsonObject::AddBool(std::string_view key, bool value) {
  Key(key);
  m_text += value ? "true" : "false";
  return *this;
}

}  // namespace kavo::cli
