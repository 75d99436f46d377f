#include "cli/args.h"

#include "platform/text.h"

namespace kavo::cli {

std::optional<std::u16string> ParsedArgs::Value(const std::string& option) const {
  const auto it = values.find(option);
  if (it == values.end() || it->second.empty()) return std::nullopt;
  return it->second.back();
}

std::optional<ParsedArgs> ParseArgs(const std::vector<std::u16string>& args, const ArgSpec& spec,
                                    std::string& error) {
  ParsedArgs parsed;
  bool onlyPositional = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string word = platform::Utf16ToUtf8(args[i]);
    if (!onlyPositional && word == "--") {
      onlyPositional = true;
      continue;
    }
    if (!onlyPositional && word.size() > 2 && word.rfind("--", 0) == 0) {
      std::string name = word;
      std::optional<std::u16string> inlineValue;
      if (const auto eq = word.find('='); eq != std::string::npos) {
        name = word.substr(0, eq);
        inlineValue = platform::Utf8ToUtf16(word.substr(eq + 1));
      }
      if (spec.valueOptions.count(name)) {
        if (!inlineValue) {
          if (i + 1 >= args.size()) {
            error = "option " + name + " needs a value";
            return std::nullopt;
          }
          inlineValue = args[++i];
        }
        parsed.values[name].push_back(*inlineValue);
      } else if (spec.flags.count(name) && !inlineValue) {
        parsed.flags.insert(name);
      } else {
        error = "unknown option " + name;
        return std::nullopt;
      }
      continue;
    }
    parsed.positional.push_back(args[i]);
  }
  for (const std::string& option : spec.required) {
    if (!parsed.values.count(option)) {
      error = "option " + option + " is required";
      return std::nullopt;
    }
  }
  if (parsed.positional.size() < spec.minPositional) {
    error = "missing argument";
    return std::nullopt;
  }
  if (parsed.positional.size() > spec.maxPositional) {
    error = "unexpected argument '" + platform::Utf16ToUtf8(parsed.positional[spec.maxPositional]) +
            "'";
    return std::nullopt;
  }
  return parsed;
}

std::optional<uint64_t> ParseUnsigned(const std::u16string& text) {
  if (text.empty() || text.size() > 20) return std::nullopt;
  uint64_t value = 0;
  for (char16_t c : text) {
    if (c < u'0' || c > u'9') return std::nullopt;
    if (__builtin_mul_overflow(value, 10u, &value) ||
        __builtin_add_overflow(value, static_cast<uint64_t>(c - u'0'), &value)) {
      return std::nullopt;
    }
  }
  return value;
}

}  // namespace kavo::cli
