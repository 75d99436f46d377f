// Command-line parsing shared by the commands: positional words, "--name value" options and
// "--flag" switches, each command declaring which it takes.
#pragma once

#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace kavo::cli {

struct ArgSpec {
  std::set<std::string> valueOptions;  // "--out" takes a value
  std::set<std::string> flags;         // "--json" does not
  std::set<std::string> required;      // value options that must be given
  size_t minPositional = 0;
  size_t maxPositional = 0;
};

struct ParsedArgs {
  std::vector<std::u16string> positional;
  std::map<std::string, std::vector<std::u16string>> values;  // repeatable options keep order
  std::set<std::string> flags;

  bool Has(const std::string& flag) const { return flags.count(flag) != 0; }
  std::optional<std::u16string> Value(const std::string& option) const;
};

// Parses `args` (without the command word). On failure returns nothing and sets `error` to one
// line for the user.
std::optional<ParsedArgs> ParseArgs(const std::vector<std::u16string>& args, const ArgSpec& spec,
                                    std::string& error);

// A decimal unsigned 64-bit number, all digits, no sign; nothing when it is not one.
std::optional<uint64_t> ParseUnsigned(const std::u16string& text);

}  // namespace kavo::cli
