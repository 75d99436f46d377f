#include "recovery/tree.h"

#include <utility>
#include <vector>

#include "platform/bytes.h"

namespace kavo {

namespace {

constexpr uint16_t kPresentFolder = NF_PRESENT | NF_FOLDER;

// Offsets of the node record.
constexpr size_t kOffSize = 0;
constexpr size_t kOffLocation = 8;
constexpr size_t kOffEndSector = 16;
constexpr size_t kOffParent = 24;
constexpr size_t kOffNextSibling = 28;
constexpr size_t kOffFirstChild = 32;
constexpr size_t kOffId = 36;
constexpr size_t kOffParentId = 40;
constexpr size_t kOffCreatedDate = 44;
constexpr size_t kOffModifiedDate = 46;
constexpr size_t kOffFlags = 48;
constexpr size_t kOffMark = 50;
constexpr size_t kOffOrigin = 51;
constexpr size_t kOffName = 52;
constexpr size_t kOffNameLength = 56;
constexpr size_t kOffReserved = 57;

// Frees everything below `node` without a stack: a first child is rotated up in front of its
// parent in the list of nodes still to free, and a node is deleted once it has no children left.
// Each node is rotated at most once, so this is linear.
template <typename T>
void FreeBelow(T* node) {
  T* pending = node->firstChild;
  node->firstChild = nullptr;
  while (pending != nullptr) {
    T* child = pending->firstChild;
    if (child != nullptr) {
      pending->firstChild = child->nextSibling;
      child->nextSibling = pending;
      pending = child;
    } else {
      T* next = pending->nextSibling;
      delete pending;
      pending = next;
    }
  }
}

// Visits the nodes below `root` depth first; `visit` returns whether to go below the node it saw.
template <typename Visit>
void WalkBelow(const RecoveredNode* root, Visit visit) {
  std::vector<const RecoveredNode*> resume;  // where to go on after each folder being walked
  const RecoveredNode* node = root->firstChild;
  while (node != nullptr || !resume.empty()) {
    if (node == nullptr) {
      node = resume.back();
      resume.pop_back();
    } else if (visit(*node) && node->firstChild != nullptr) {
      if (node->nextSibling != nullptr) resume.push_back(node->nextSibling);
      node = node->firstChild;
    } else {
      node = node->nextSibling;
    }
  }
}

RecoveredNode* LastChild(RecoveredNode* parent) {
  RecoveredNode* last = parent->lastChildHint;
  if (parent->firstChild != nullptr && last != nullptr && last->parent == parent &&
      last->nextSibling == nullptr) {
    return last;
  }
  last = parent->firstChild;
  while (last != nullptr && last->nextSibling != nullptr) last = last->nextSibling;
  return last;
}

}  // namespace

RecoveredNode::~RecoveredNode() {
  FreeBelow(this);
}

ScanEntry::~ScanEntry() {
  FreeBelow(this);
}

NodePtr NewNode() {
  return std::make_unique<RecoveredNode>();
}

ScanEntryPtr NewScanEntry() {
  return std::make_unique<ScanEntry>();
}

std::u16string_view NodeName(const RecoveredNode& node) {
  std::u16string_view name(node.name);
  return name.substr(0, name.find(u'\0'));
}

std::u16string StoredName(const RecoveredNode& node) {
  std::u16string stored = node.name;
  stored.resize(node.nameLength);
  return stored;
}

RecoveredNode* AppendChild(RecoveredNode* parent, NodePtr node) {
  RecoveredNode* last = LastChild(parent);
  RecoveredNode* added = node.release();
  added->parent = parent;
  if (last != nullptr) {
    last->nextSibling = added;
  } else {
    parent->firstChild = added;
  }
  parent->lastChildHint = added;
  return added;
}

RecoveredNode* PrependChild(RecoveredNode* parent, NodePtr node) {
  RecoveredNode* added = node.release();
  added->parent = parent;
  added->nextSibling = parent->firstChild;
  parent->firstChild = added;
  return added;
}

ScanEntry* PrependScanChild(ScanEntry* folder, ScanEntryPtr entry) {
  ScanEntry* added = entry.release();
  added->parent = folder;
  added->nextSibling = folder->firstChild;
  folder->firstChild = added;
  return added;
}

RecoveredNode* FindChildFolder(const RecoveredNode* parent, std::u16string_view name) {
  if ((parent->flags & NF_FOLDER) == 0) return nullptr;
  for (RecoveredNode* child = parent->firstChild; child != nullptr; child = child->nextSibling) {
    if (NodeName(*child) == name) return child;
  }
  return nullptr;
}

RecoveredNode* AddChildFolder(RecoveredNode* parent, std::u16string_view name) {
  // nameLength is one byte and includes the two padding units.
  name = name.substr(0, 253);
  NodePtr folder = NewNode();
  folder->flags = kPresentFolder;
  folder->name.assign(name);
  folder->name.append(2, u'\0');
  folder->nameLength = static_cast<uint8_t>(name.size() + 2);
  return AppendChild(parent, std::move(folder));
}

void ConvertScanTree(ScanEntry* scanFolder, RecoveredNode* nodeFolder) {
  // Next siblings of the entries whose children are being converted; the matching node folders
  // are found back through their parent links.
  std::vector<ScanEntry*> resume;
  RecoveredNode* target = nodeFolder;
  RecoveredNode* last = LastChild(nodeFolder);
  ScanEntry* entry = scanFolder->firstChild;
  scanFolder->firstChild = nullptr;
  while (entry != nullptr || !resume.empty()) {
    if (entry == nullptr) {
      entry = resume.back();
      resume.pop_back();
      last = target;
      target = target->parent;
      continue;
    }
    RecoveredNode* node = NewNode().release();
    node->location = entry->location;
    node->size = entry->size;
    node->id = entry->id;
    node->parentId = entry->parentId;
    node->createdDate = entry->createdDate;
    node->modifiedDate = entry->modifiedDate;
    node->mark = entry->mark;
    node->nameLength = entry->nameLength;
    node->flags = entry->flags;
    node->name = std::move(entry->name);
    node->parent = target;
    if (last != nullptr) {
      last->nextSibling = node;
    } else {
      target->firstChild = node;
    }

    ScanEntry* children = entry->firstChild;
    ScanEntry* next = entry->nextSibling;
    entry->firstChild = nullptr;
    delete entry;
    if (children != nullptr) {
      resume.push_back(next);
      target = node;
      last = nullptr;
      entry = children;
    } else {
      last = node;
      entry = next;
    }
  }
}

void FreeChildren(RecoveredNode* node) {
  FreeBelow(node);
  node->lastChildHint = nullptr;
}

void FreeScanChildren(ScanEntry* entry) {
  FreeBelow(entry);
}

void CountAll(const RecoveredNode* root, TreeTotals& totals) {
  totals.folders = 0;
  totals.files = 0;
  totals.bytes = 0;
  WalkBelow(root, [&totals](const RecoveredNode& node) {
    if ((node.flags & NF_FOLDER) != 0) {
      ++totals.folders;
      return true;
    }
    ++totals.files;
    totals.bytes += node.size;
    return false;
  });
}

void CountMarked(const RecoveredNode* root, TreeTotals& totals) {
  totals.markedFolders = 0;
  totals.markedFiles = 0;
  totals.markedBytes = 0;
  WalkBelow(root, [&totals](const RecoveredNode& node) {
    if (node.mark == 0) return false;
    if ((node.flags & NF_FOLDER) != 0) {
      ++totals.markedFolders;
      return true;
    }
    if (node.mark == 1) {
      ++totals.markedFiles;
      totals.markedBytes += node.size;
    }
    return false;
  });
}

uint8_t MarkFromChildren(const RecoveredNode& folder) {
  bool all = true, any = false;
  for (const RecoveredNode* c = folder.firstChild; c != nullptr; c = c->nextSibling) {
    all = all && c->mark == 1;
    any = any || c->mark != 0;
  }
  return folder.firstChild == nullptr ? folder.mark : all ? 1 : any ? 2 : 0;
}

void MarkSubtree(RecoveredNode* top, uint8_t mark) {
  top->mark = mark;
  for (RecoveredNode* n = top->firstChild; n != nullptr && n != top;) {
    n->mark = mark;
    if (n->firstChild != nullptr) {
      n = n->firstChild;
      continue;
    }
    while (n != top && n->nextSibling == nullptr) n = n->parent;
    if (n != top) n = n->nextSibling;
  }
}

NodePtr NewRoot() {
  NodePtr root = NewNode();
  root->flags = kPresentFolder;
  root->name = u"Root";
  root->nameLength = 5;
  return root;
}

ScanEntryPtr NewScanData(uint32_t rootId) {
  ScanEntryPtr data = NewScanEntry();
  data->id = rootId;
  data->flags = kPresentFolder;
  data->name = u"Data";
  data->nameLength = 4;

  ScanEntryPtr lostFound = NewScanEntry();
  lostFound->parentId = rootId;
  lostFound->flags = NF_FOLDER;
  lostFound->name = u"Lost+Found";
  lostFound->nameLength = 10;
  PrependScanChild(data.get(), std::move(lostFound));
  return data;
}

NodePtr BuildFileSystemTree(ScanEntryPtr data) {
  NodePtr root = NewRoot();
  NodePtr node = NewNode();
  node->flags = kPresentFolder;
  node->id = data->id;
  node->nameLength = data->nameLength;
  node->name = std::move(data->name);
  ConvertScanTree(data.get(), node.get());
  PrependChild(root.get(), std::move(node));
  return root;
}

RecoveredNode* AttachFileType(RecoveredNode* root) {
  NodePtr node = NewNode();
  node->flags = kPresentFolder;
  node->name = u"FileType";
  node->nameLength = 8;
  RecoveredNode* data = root->firstChild;
  if (data == nullptr) return PrependChild(root, std::move(node));
  RecoveredNode* fileType = node.release();
  fileType->parent = root;
  fileType->nextSibling = data->nextSibling;
  data->nextSibling = fileType;
  return fileType;
}

void WriteNodeRecord(const RecoveredNode& node, std::span<uint8_t, kNodeRecordSize> out) {
  uint8_t* p = out.data();
  StoreLe64(p + kOffSize, node.size);
  StoreLe64(p + kOffLocation, node.location);
  StoreLe64(p + kOffEndSector, node.endSector);
  StoreLe32(p + kOffParent, node.parent != nullptr ? 1 : 0);
  StoreLe32(p + kOffNextSibling, node.nextSibling != nullptr ? 1 : 0);
  StoreLe32(p + kOffFirstChild, node.firstChild != nullptr ? 1 : 0);
  StoreLe32(p + kOffId, node.id);
  StoreLe32(p + kOffParentId, node.parentId);
  StoreLe16(p + kOffCreatedDate, node.createdDate);
  StoreLe16(p + kOffModifiedDate, node.modifiedDate);
  StoreLe16(p + kOffFlags, node.flags);
  p[kOffMark] = node.mark;
  p[kOffOrigin] = node.origin;
  StoreLe32(p + kOffName, node.name.empty() ? 0 : 1);
  p[kOffNameLength] = node.nameLength;
  for (size_t i = kOffReserved; i < kNodeRecordSize; ++i) p[i] = 0;
}

NodeRecordLinks ReadNodeRecord(std::span<const uint8_t, kNodeRecordSize> in, RecoveredNode& node) {
  const uint8_t* p = in.data();
  node.size = LoadLe64(p + kOffSize);
  node.location = LoadLe64(p + kOffLocation);
  node.endSector = LoadLe64(p + kOffEndSector);
  node.id = LoadLe32(p + kOffId);
  node.parentId = LoadLe32(p + kOffParentId);
  node.createdDate = LoadLe16(p + kOffCreatedDate);
  node.modifiedDate = LoadLe16(p + kOffModifiedDate);
  node.flags = LoadLe16(p + kOffFlags);
  node.mark = p[kOffMark];
  node.origin = p[kOffOrigin];
  node.nameLength = p[kOffNameLength];
  NodeRecordLinks links;
  links.parent = LoadLe32(p + kOffParent);
  links.nextSibling = LoadLe32(p + kOffNextSibling);
  links.firstChild = LoadLe32(p + kOffFirstChild);
  links.name = LoadLe32(p + kOffName);
  return links;
}

}  // namespace kavo
