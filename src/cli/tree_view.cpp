#include "cli/tree_view.h"

#include <cstdio>
#include <utility>

#include "cli/output.h"
#include "platform/text.h"

namespace kavo::cli {

void WalkTree(const RecoveredNode* root,
              const std::function<bool(const RecoveredNode&, const std::u16string& path)>& visit) {
  if (!root) return;
  // Each frame: the next child to visit and the path of its folder.
  std::vector<std::pair<const RecoveredNode*, std::u16string>> stack;
  stack.emplace_back(root->firstChild, std::u16string());
  while (!stack.empty()) {
    auto& [node, folderPath] = stack.back();
    if (!node) {
      stack.pop_back();
      continue;
    }
    const RecoveredNode* current = node;
    node = current->nextSibling;
    std::u16string path = folderPath.empty()
                              ? std::u16string(NodeName(*current))
                              : folderPath + u"/" + std::u16string(NodeName(*current));
    const bool descend = visit(*current, path);
    if (descend && current->firstChild) stack.emplace_back(current->firstChild, std::move(path));
  }
}

std::string DosDateText(uint16_t date) {
  const unsigned day = date & 0x1F;
  const unsigned month = (date >> 5) & 0x0F;
  const unsigned year = 1980 + (date >> 9);
  if (date == 0 || day == 0 || month == 0 || month > 12) return {};
  char text[16];
  std::snprintf(text, sizeof text, "%04u-%02u-%02u", year, month, day);
  return text;
}

namespace {
std::string JsonDate(uint16_t date) {
  const std::string text = DosDateText(date);
  return text.empty() ? "null" : JsonString(text);
}
}  // namespace

std::string NodeJson(const RecoveredNode& node, const std::u16string& path) {
  JsonObject o;
  o.Add("path", path)
      .Add("name", NodeName(node))
      .AddBool("folder", (node.flags & NF_FOLDER) != 0)
      // A carved file is as present as the bytes it was cut from.
      .AddBool("present", (node.flags & NF_PRESENT) != 0 || node.origin == ORIGIN_RAW_SCAN)
      .Add("size", node.size)
      .Add("id", node.id)
      .Add("parentId", node.parentId)
      .AddRaw("created", JsonDate(node.createdDate))
      .AddRaw("modified", JsonDate(node.modifiedDate))
      .Add("location", node.location)
      .Add("endSector", node.endSector);
  return o.Str();
}

std::string NodeLine(const RecoveredNode& node, const std::u16string& path) {
  size_t depth = 0;
  for (char16_t c : path) depth += c == u'/';
  std::string line(depth * 2, ' ');
  line += platform::Utf16ToUtf8(NodeName(node));
  const bool folder = (node.flags & NF_FOLDER) != 0;
  if (folder) {
    line += '/';
  } else {
    line += "  " + std::to_string(node.size) + " bytes";
  }
  const std::string modified = DosDateText(node.modifiedDate);
  if (!modified.empty()) line += "  " + modified;
  const bool lostAndFound = folder && path == u"Data/Lost+Found";
  if (!(node.flags & NF_PRESENT) && !lostAndFound && node.origin != ORIGIN_RAW_SCAN) {
    line += "  [deleted]";
  }
  return line + "\n";
}

namespace {
char16_t Fold(char16_t c) {
  return (c >= u'A' && c <= u'Z') ? static_cast<char16_t>(c + 32) : c;
}

// Matches a class starting after '[' at pattern[i]; sets `next` past the ']'.
bool MatchClass(std::u16string_view p, size_t i, char16_t c, size_t& next, bool& valid) {
  bool negate = false;
  if (i < p.size() && (p[i] == u'!' || p[i] == u'^')) {
    negate = true;
    ++i;
  }
  bool matched = false;
  bool first = true;
  while (i < p.size() && (p[i] != u']' || first)) {
    first = false;
    char16_t lo = Fold(p[i]);
    char16_t hi = lo;
    if (i + 2 < p.size() && p[i + 1] == u'-' && p[i + 2] != u']') {
      hi = Fold(p[i + 2]);
      i += 2;
    }
    if (Fold(c) >= lo && Fold(c) <= hi) matched = true;
    ++i;
  }
  valid = i < p.size();
  next = i + 1;
  return matched != negate;
}
}  // namespace

bool GlobMatch(std::u16string_view p, std::u16string_view t) {
  // Iterative matching with one backtrack point per kind of star, linear in practice.
  size_t pi = 0, ti = 0;
  size_t starP = std::u16string_view::npos, starT = 0;
  bool starCrossesSlash = false;
  while (ti < t.size()) {
    if (pi < p.size() && p[pi] == u'*') {
      starCrossesSlash = pi + 1 < p.size() && p[pi + 1] == u'*';
      pi += starCrossesSlash ? 2 : 1;
      starP = pi;
      starT = ti;
      continue;
    }
    if (pi < p.size()) {
      if (p[pi] == u'[') {
        size_t next = 0;
        bool valid = false;
        if (t[ti] != u'/' && MatchClass(p, pi + 1, t[ti], next, valid) && valid) {
          pi = next;
          ++ti;
          continue;
        }
        if (!valid && p[pi] == t[ti]) {
          ++pi;
          ++ti;
          continue;
        }
      } else if ((p[pi] == u'?' && t[ti] != u'/') || Fold(p[pi]) == Fold(t[ti])) {
        ++pi;
        ++ti;
        continue;
      }
    }
    // Backtrack: let the last star take one more character.
    if (starP != std::u16string_view::npos && (starCrossesSlash || t[starT] != u'/')) {
      pi = starP;
      ti = ++starT;
      continue;
    }
    return false;
  }
  while (pi < p.size() && p[pi] == u'*') ++pi;
  return pi == p.size();
}

bool Selection::MatchesPath(const RecoveredNode& node, const std::u16string& path) const {
  for (const std::u16string& glob : globs) {
    if (glob.find(u'/') == std::u16string::npos) {
      if (GlobMatch(glob, NodeName(node))) return true;
      continue;
    }
    if (GlobMatch(glob, path)) return true;
    const size_t slash = path.find(u'/');
    if (slash != std::u16string::npos &&
        GlobMatch(glob, std::u16string_view(path).substr(slash + 1))) {
      return true;
    }
  }
  return false;
}

void ApplySelection(RecoveredNode* root, const Selection& selection) {
  if (!root) return;
  // Pre-order with each node's path and whether a matching folder above selects it; then the
  // folders' marks from their children, walking the same order backwards.
  struct Frame {
    RecoveredNode* node;
    std::u16string folderPath;
    bool forced;
  };
  std::vector<RecoveredNode*> order;
  std::vector<Frame> stack{{root->firstChild, u"", false}};
  while (!stack.empty()) {
    Frame& frame = stack.back();
    if (!frame.node) {
      stack.pop_back();
      continue;
    }
    RecoveredNode* current = frame.node;
    frame.node = current->nextSibling;
    const std::u16string path = frame.folderPath.empty()
                                    ? std::u16string(NodeName(*current))
                                    : frame.folderPath + u"/" + std::u16string(NodeName(*current));
    const bool forced =
        frame.forced || (!selection.globs.empty() && selection.MatchesPath(*current, path));
    order.push_back(current);
    if (current->flags & NF_FOLDER) {
      // Marked for now when it stands for itself (unfiltered, or selected whole and empty).
      current->mark = (selection.Unfiltered() || (forced && !selection.deletedOnly)) ? 1 : 0;
      if (current->firstChild) stack.push_back({current->firstChild, path, forced});
    } else {
      const bool nameOk = selection.globs.empty() || forced;
      const bool stateOk = !selection.deletedOnly || !(current->flags & NF_PRESENT);
      current->mark = nameOk && stateOk ? 1 : 0;
    }
  }
  for (auto it = order.rbegin(); it != order.rend(); ++it) {
    RecoveredNode* folder = *it;
    if (folder->flags & NF_FOLDER) folder->mark = MarkFromChildren(*folder);
  }
}

}  // namespace kavo::cli
