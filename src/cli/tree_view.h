// Walking the result tree for the command line: paths, JSON Lines, the human listing and the
// selection of nodes to recover.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "recovery/tree.h"

namespace kavo::cli {

// Visits every node below `root` depth first, parents before children, in sibling order, with its
// path from below the root ("Data/Documents/a.txt"). `visit` returns false to skip a folder's
// children. Iterative: trees from damaged disks can be very deep.
void WalkTree(const RecoveredNode* root,
              const std::function<bool(const RecoveredNode&, const std::u16string& path)>& visit);

// One JSON object for a node: path, name, folder, present, size, id, parentId, created,
// modified (ISO dates or null), location, endSector.
std::string NodeJson(const RecoveredNode& node, const std::u16string& path);

// The human listing: one line per node, indented by depth.
std::string NodeLine(const RecoveredNode& node, const std::u16string& path);

// "YYYY-MM-DD" of a DOS date; empty for 0 or an impossible date.
std::string DosDateText(uint16_t date);

// Shell-style pattern on names and paths: '*' any run within one path component, '**' any run
// across components, '?' one character, '[abc]', '[a-z]', '[!x]' classes. ASCII letters match in
// either case, as names do on the volumes Kavo reads.
bool GlobMatch(std::u16string_view pattern, std::u16string_view text);

// Which nodes a recovery writes.
struct Selection {
  std::vector<std::u16string> globs;  // empty: no name filter
  bool deletedOnly = false;

  // A pattern with '/' is tried on the path below the top folder and on the whole path; one
  // without on the name alone. A matching folder selects everything below it.
  bool MatchesPath(const RecoveredNode& node, const std::u16string& path) const;
  bool Unfiltered() const { return globs.empty() && !deletedOnly; }
};

// Sets the marks of the tree below `root` from a selection: selected files 1, folders 1 when all
// their contents are marked, 2 when some are, 0 when none. Unfiltered, every node is marked,
// empty folders too.
void ApplySelection(RecoveredNode* root, const Selection& selection);

}  // namespace kavo::cli
