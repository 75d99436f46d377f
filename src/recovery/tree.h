// The recovered-file tree: the nodes every file-finding operation delivers, the working entries the
// file-system readers build before it, the fixed top of the tree, and the 62-byte node record of
// the scan-info file.
//
// Ownership: a node owns its name and its children (the list from firstChild along nextSibling);
// deleting a node frees its whole subtree. Delete a node only when it is a root or has been
// unlinked from its parent. Trees come from damaged disks and may be very deep or very wide, so
// every walk here is iterative.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>

namespace kavo {

// Bits of RecoveredNode::flags and ScanEntry::flags.
inline constexpr uint16_t NF_PRESENT = 1;   // live in its file system (clear: deleted)
inline constexpr uint16_t NF_FOLDER = 2;    // a folder
inline constexpr uint16_t NF_FATCHAIN = 4;  // exFAT file whose clusters follow the allocation table

// RecoveredNode::origin of nodes made by the raw signature scan.
inline constexpr uint8_t ORIGIN_RAW_SCAN = 4;

// ScanEntry::parentId of a folder whose containing folder is unknown.
inline constexpr uint32_t kUnknownParentId = 0xFFFFFFFF;

struct RecoveredNode {
  RecoveredNode() = default;
  RecoveredNode(const RecoveredNode&) = delete;
  RecoveredNode& operator=(const RecoveredNode&) = delete;
  ~RecoveredNode();

  // The fields of the node record, in record order.
  uint64_t size = 0;
  uint64_t location = 0;   // sector; its meaning depends on the producer
  uint64_t endSector = 0;  // raw scan: last sector of the found file
  RecoveredNode* parent = nullptr;
  RecoveredNode* nextSibling = nullptr;
  RecoveredNode* firstChild = nullptr;
  uint32_t id = 0;            // first cluster or MFT record number
  uint32_t parentId = 0;      // the same for the containing folder
  uint16_t createdDate = 0;   // DOS date, 0 when unknown
  uint16_t modifiedDate = 0;  // DOS date, 0 when unknown
  uint16_t flags = 0;
  uint8_t mark = 0;  // 0 unmarked, 1 marked, 2 partly marked (folders)
  uint8_t origin = 0;
  // The name, possibly followed by zero padding that the scan-info file keeps (raw-scan names).
  // NodeName() gives the name itself, StoredName() the units the scan-info file holds.
  std::u16string name;
  // File-system readers: the character count; raw scan: the character count + 2.
  uint8_t nameLength = 0;

  // Not part of the record: where AppendChild last appended, so that filling a folder with
  // millions of found files stays linear. Trusted only while it is still the last child; code
  // that frees a single child of a node clears it.
  RecoveredNode* lastChildHint = nullptr;
};

using NodePtr = std::unique_ptr<RecoveredNode>;

// The working entry of the file-system readers; converted into RecoveredNode objects when the
// read is done. Ownership as for RecoveredNode.
struct ScanEntry {
  ScanEntry() = default;
  ScanEntry(const ScanEntry&) = delete;
  ScanEntry& operator=(const ScanEntry&) = delete;
  ~ScanEntry();

  // Entries take as much memory as the nodes that replace them: converting a finished read into
  // the tree frees each entry just before its node is made, and the allocator hands the entry's
  // block straight to the node, so a volume of millions of files never holds both trees at once.
  static void* operator new(size_t size) {
    return ::operator new(std::max(size, sizeof(RecoveredNode)));
  }
  static void operator delete(void* p) noexcept { ::operator delete(p); }

  uint64_t location = 0;
  uint64_t size = 0;
  ScanEntry* nextSibling = nullptr;
  ScanEntry* firstChild = nullptr;
  ScanEntry* parent = nullptr;
  uint32_t orphanOrdinal = 0;  // order in which NTFS placeholder folders moved into Lost+Found
  uint32_t id = 0;
  uint32_t parentId = 0;  // kUnknownParentId for NTFS placeholders
  std::u16string name;    // the name, possibly followed by zero padding
  uint16_t createdDate = 0;
  uint16_t modifiedDate = 0;
  uint8_t flags = 0;
  uint8_t mark = 0;
  uint8_t nameLength = 0;  // characters
};

using ScanEntryPtr = std::unique_ptr<ScanEntry>;

// Folder, file and byte counts shown by the results browser.
struct TreeTotals {
  uint64_t folders = 0;
  uint64_t files = 0;
  uint64_t bytes = 0;
  uint64_t markedFolders = 0;
  uint64_t markedFiles = 0;
  uint64_t markedBytes = 0;
};

// A node with every field zero.
NodePtr NewNode();
ScanEntryPtr NewScanEntry();

// The name up to its first zero unit.
std::u16string_view NodeName(const RecoveredNode& node);
// Exactly nameLength units: the name buffer cut there, or padded with zeros.
std::u16string StoredName(const RecoveredNode& node);

// Links `node` after the last child of `parent` and sets its parent. Returns the node, now
// owned by `parent`.
RecoveredNode* AppendChild(RecoveredNode* parent, NodePtr node);
// Links `node` in front of the first child of `parent` and sets its parent.
RecoveredNode* PrependChild(RecoveredNode* parent, NodePtr node);
// The file-system readers list each folder by prepending its entries.
ScanEntry* PrependScanChild(ScanEntry* folder, ScanEntryPtr entry);

// The first child, in sibling order, whose name equals `name` unit by unit (case-sensitive).
// Null when there is none or when `parent` is not a folder.
RecoveredNode* FindChildFolder(const RecoveredNode* parent, std::u16string_view name);
// Appends a present folder named `name` followed by two zero units, as the raw scan names its
// category folders.
RecoveredNode* AddChildFolder(RecoveredNode* parent, std::u16string_view name);

// Moves the children of `scanFolder`, and everything below them, into RecoveredNode children of
// `nodeFolder`, appended after any children it already has, in the same sibling order. The
// entries are freed (their names are moved into the nodes); `scanFolder` is left without
// children.
void ConvertScanTree(ScanEntry* scanFolder, RecoveredNode* nodeFolder);

// Frees the whole subtree below the node; the node itself stays, without children.
void FreeChildren(RecoveredNode* node);
void FreeScanChildren(ScanEntry* entry);

// Sets folders, files and bytes from the subtree below `root` (the root itself not counted):
// every folder and every file, whatever its mark.
void CountAll(const RecoveredNode* root, TreeTotals& totals);
// Sets the marked counts: folders marked fully or partly, with their subtrees searched; files
// marked fully. An unmarked folder's subtree is not looked at.
void CountMarked(const RecoveredNode* root, TreeTotals& totals);

// The mark rule of the results browser and of kavo-cli's selection. A folder's mark from its
// children: 1 when all are marked fully, 0 when none is marked, else 2 (partly); a folder without
// children keeps its own mark.
uint8_t MarkFromChildren(const RecoveredNode& folder);
// Gives `top` and its whole subtree the same mark.
void MarkSubtree(RecoveredNode* top, uint8_t mark);

// The fixed top of the tree.
//
// "Root" as an operation creates it: a present folder.
NodePtr NewRoot();
// The entry "Data" for a file-system read of a volume whose root folder has `rootId` (FAT12 and
// FAT16 1, FAT32 2, NTFS 5, exFAT the root-folder cluster), holding "Lost+Found". Lost+Found is
// always shown as not present, and its parentId is the id of Data.
ScanEntryPtr NewScanData(uint32_t rootId);
// Turns a finished file-system read into the tree "Root" -> "Data" -> the read's entries; the
// entries are consumed.
NodePtr BuildFileSystemTree(ScanEntryPtr data);
// Creates the raw scan's "FileType" folder under `root`: right after the first child ("Data")
// when there is one, as the only child otherwise.
RecoveredNode* AttachFileType(RecoveredNode* root);

// The node record of the scan-info file, little-endian.
inline constexpr size_t kNodeRecordSize = 62;

// The four 32-bit link fields of a stored record. Only "zero or not" has a meaning.
struct NodeRecordLinks {
  uint32_t parent = 0;
  uint32_t nextSibling = 0;
  uint32_t firstChild = 0;
  uint32_t name = 0;
};

// Writes the node's record. Each link field is 1 when the pointer is set (for `name`: when the
// name is not empty) and 0 otherwise; the reserved bytes are zero.
void WriteNodeRecord(const RecoveredNode& node, std::span<uint8_t, kNodeRecordSize> out);
// Sets the node's record fields from a stored record and returns its link fields; the node's
// pointers and name are not touched.
NodeRecordLinks ReadNodeRecord(std::span<const uint8_t, kNodeRecordSize> in, RecoveredNode& node);

}  // namespace kavo
