#include "recovery/scan_info.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <vector>

#include "disk/disk.h"
#include "platform/bytes.h"
#include "recovery/stored_file.h"

namespace kavo {

namespace {

constexpr uint8_t kTrailerMagic[8] = {'K', 'A', 'V', 'O', 'E', 'X', 'T', '1'};
// The whole source name, after the start sector, when the header's field holds only its first
// half (as it does for every name longer than two characters: an image file's path).
constexpr uint8_t kNameTrailerMagic[8] = {'K', 'A', 'V', 'O', 'E', 'X', 'T', '2'};
// Names longer than this in a header are damage, not names.
constexpr int32_t kMaxHeaderName = 32768;

bool WriteNode(StoredFileWriter& w, const RecoveredNode& node) {
  std::array<uint8_t, kNodeRecordSize> record;
  WriteNodeRecord(node, record);
  if (!w.Put(record.data(), record.size())) return false;
  const std::u16string name = StoredName(node);
  std::vector<uint8_t> bytes(name.size() * 2);
  for (size_t i = 0; i < name.size(); ++i) StoreLe16(bytes.data() + 2 * i, name[i]);
  return bytes.empty() || w.Put(bytes.data(), bytes.size());
}

// Writes the children of every folder as one group: first the children of `root`, then, for
// each child with children, that child's groups, depth first. Iterative: trees can be deep.
bool WriteGroups(StoredFileWriter& w, const RecoveredNode* root) {
  auto writeGroup = [&](const RecoveredNode* first) {
    for (const RecoveredNode* n = first; n; n = n->nextSibling) {
      if (!WriteNode(w, *n)) return false;
    }
    return true;
  };
  if (!root->firstChild) return true;
  if (!writeGroup(root->firstChild)) return false;
  std::vector<const RecoveredNode*> cursors{root->firstChild};
  while (!cursors.empty()) {
    const RecoveredNode* node = cursors.back();
    if (!node) {
      cursors.pop_back();
      continue;
    }
    cursors.back() = node->nextSibling;
    if (node->firstChild) {
      if (!writeGroup(node->firstChild)) return false;
      cursors.push_back(node->firstChild);
    }
  }
  return true;
}

// Reads one group of children into `folder`; returns the children whose groups follow, in order.
std::vector<RecoveredNode*> ReadGroup(StoredFileReader& r, RecoveredNode* folder) {
  std::vector<RecoveredNode*> withChildren;
  std::array<uint8_t, kNodeRecordSize> record;
  while (true) {
    NodePtr node = NewNode();
    r.Get(record.data(), record.size());
    const NodeRecordLinks links = ReadNodeRecord(record, *node);
    std::vector<uint8_t> bytes(static_cast<size_t>(node->nameLength) * 2);
    if (!bytes.empty()) r.Get(bytes.data(), bytes.size());
    node->name.resize(node->nameLength);
    for (size_t i = 0; i < node->name.size(); ++i) node->name[i] = LoadLe16(bytes.data() + 2 * i);
    node->mark = 0;
    RecoveredNode* added = AppendChild(folder, std::move(node));
    if (links.firstChild != 0) withChildren.push_back(added);
    if (links.nextSibling == 0) break;
  }
  return withChildren;
}

void ReadGroups(StoredFileReader& r, RecoveredNode* root) {
  // Each frame: the folders of one group whose own groups are still to read, and how far.
  std::vector<std::pair<std::vector<RecoveredNode*>, size_t>> stack;
  stack.emplace_back(ReadGroup(r, root), 0);
  while (!stack.empty()) {
    auto& [folders, next] = stack.back();
    if (next == folders.size()) {
      stack.pop_back();
      continue;
    }
    RecoveredNode* folder = folders[next++];
    std::vector<RecoveredNode*> inner = ReadGroup(r, folder);
    stack.emplace_back(std::move(inner), 0);
  }
}

}  // namespace

ScanInfoHeader ScanInfoHeaderFor(uint32_t operation, const CDisk* source) {
  ScanInfoHeader header;
  header.operation = static_cast<uint8_t>(operation);
  if (source == nullptr) return header;
  // A volume read inside an image file is one of its partitions, as the program's drive list has
  // it: loading the scan then finds the volume at its start sector again.
  const bool imageVolume =
      source->m_nSourceKind == SourceKind::ImageFile && source->m_nFileSystem != FS_NONE;
  header.sourceKind =
      static_cast<uint8_t>(imageVolume ? SourceKind::Partition : source->m_nSourceKind);
  header.sourceName = source->GetName();
  header.sourceSize = source->m_nTotalSectors * source->m_nSectorSize;
  header.fileSystem = source->m_nFileSystem;
  header.startSector = source->m_nStartSector;
  return header;
}

bool SaveScanInfo(const std::filesystem::path& path, const ScanInfoHeader& header,
                  const RecoveredNode* root, Prompter& prompter) {
  StoredFileWriter w(path);
  if (!w.Open()) {
    Tell(prompter, ErrorCodeText("Failed to save scan information. Errorcode =%u"), u"Error",
         PromptIcon::Error);
    return false;
  }
  const auto nameLength =
      static_cast<int32_t>(std::min<size_t>(header.sourceName.size(), kMaxHeaderName));
  // The name field holds the first L + 2 bytes of the name in a zeroed buffer of L + 2 units.
  std::vector<uint8_t> nameField(static_cast<size_t>(nameLength) + 2, 0);
  for (size_t i = 0; i < nameField.size() / 2 && i < header.sourceName.size(); ++i) {
    StoreLe16(nameField.data() + 2 * i, header.sourceName[i]);
  }
  bool ok = w.Put(kScanInfoMagic, 8) && w.PutByte(header.operation) &&
            w.PutByte(header.sourceKind) && w.Put32(static_cast<uint32_t>(nameLength)) &&
            w.Put(nameField.data(), nameField.size()) && w.Put64(header.sourceSize) &&
            w.PutByte(header.fileSystem);
  ok = ok && (!root || WriteGroups(w, root));
  if (ok && header.startSector) {
    ok = w.Put(kTrailerMagic, 8) && w.Put64(*header.startSector);
  }
  if (ok && nameField.size() / 2 < header.sourceName.size()) {
    ok = w.Put(kNameTrailerMagic, 8) && w.Put32(static_cast<uint32_t>(nameLength));
    for (int32_t i = 0; ok && i < nameLength; ++i) {
      uint8_t unit[2];
      StoreLe16(unit, header.sourceName[static_cast<size_t>(i)]);
      ok = w.Put(unit, 2);
    }
  }
  ok = w.Close() && ok;
  if (!ok) {
    Tell(prompter, u"Failed to save scan info", u"Warning", PromptIcon::Error);
    return false;
  }
  return true;
}

std::optional<LoadedScanInfo> LoadScanInfo(const std::filesystem::path& path,
                                           std::optional<uint8_t> currentOperation,
                                           Prompter& prompter) {
  StoredFileReader r(path);
  if (!r.Open()) return std::nullopt;
  uint8_t magic[8];
  if (!r.Get(magic, 8) || std::memcmp(magic, kScanInfoMagic, 8) != 0) {
    Tell(prompter, u"Invalid scan info", u"Error", PromptIcon::Error);
    return std::nullopt;
  }
  LoadedScanInfo loaded;
  ScanInfoHeader& h = loaded.header;
  uint8_t head[6];
  r.Get(head, 2);
  h.operation = head[0];
  if (currentOperation && h.operation != *currentOperation) {
    static const char16_t* const kOtherOperation[] = {
        u"This is scan info of Partition Recovery option. Please choose Partition Recovery "
        u"operation and select Open Scan Info.",
        u"This is scan info of Formatted Recovery option. Please choose Formatted Recovery "
        u"operation and select Open Scan Info.",
        u"This is scan info of Deleted Recovery option. Please choose Deleted Recovery "
        u"operation and select Open Scan Info."};
    if (h.operation >= 1 && h.operation <= 3) {
      Tell(prompter, kOtherOperation[h.operation - 1], u"Information", PromptIcon::Information);
    }
    return std::nullopt;
  }
  h.sourceKind = head[1];
  r.Get(head, 4);
  const auto nameLength = static_cast<int32_t>(LoadLe32(head));
  if (nameLength < 0 || nameLength > kMaxHeaderName) {
    Tell(prompter, u"Invalid scan info", u"Error", PromptIcon::Error);
    return std::nullopt;
  }
  std::vector<uint8_t> nameField(static_cast<size_t>(nameLength) + 2);
  r.Get(nameField.data(), nameField.size());
  for (size_t i = 0; i + 1 < nameField.size(); i += 2) {
    const char16_t c = LoadLe16(nameField.data() + i);
    if (c == 0) break;
    h.sourceName.push_back(c);
  }
  uint8_t size[8];
  r.Get(size, 8);
  h.sourceSize = LoadLe64(size);
  r.Get(&h.fileSystem, 1);
  if (h.fileSystem > FS_EXFAT && h.fileSystem != FS_FAT12) {
    Tell(prompter, u"Please connect the appropriate drive whose scan info you want to open.",
         u"Warning", PromptIcon::Warning);
    return std::nullopt;
  }

  loaded.root = NewRoot();
  loaded.root->name = u"Root";
  loaded.root->nameLength = 8;
  ReadGroups(r, loaded.root.get());

  uint8_t tag[8];
  bool more = r.Get(tag, 8);
  if (more && std::memcmp(tag, kTrailerMagic, 8) == 0) {
    uint8_t start[8];
    if (r.Get(start, 8)) h.startSector = LoadLe64(start);
    more = r.Get(tag, 8);
  }
  uint8_t count[4];
  if (more && std::memcmp(tag, kNameTrailerMagic, 8) == 0 && r.Get(count, 4) &&
      LoadLe32(count) == static_cast<uint32_t>(nameLength)) {
    std::u16string name;
    uint8_t unit[2];
    while (name.size() < static_cast<size_t>(nameLength) && r.Get(unit, 2)) {
      name.push_back(LoadLe16(unit));
    }
    if (name.size() == static_cast<size_t>(nameLength)) h.sourceName = name;
  }
  return loaded;
}

std::u16string ScanInfoSelector(const ScanInfoHeader& header) {
  if (header.sourceName.empty()) return {};
  // A scan of an image file (whole, or a volume in it) is reopened from the same file.
  if (IsImageFileSelector(header.sourceName)) return header.sourceName;
  const char16_t c = header.sourceName[0];
  if ((header.sourceKind == 1 && header.operation == 2) ||
      (header.sourceKind == 3 && header.operation == 3)) {
    return std::u16string{c, u':'};
  }
  if (header.sourceKind == 1 && header.operation == 1) return std::u16string(1, c);
  return {};
}

std::filesystem::path WithExtension(const std::filesystem::path& path,
                                    std::u16string_view extension) {
  const std::u16string text = path.u16string();
  if (text.size() >= extension.size() &&
      std::u16string_view(text).substr(text.size() - extension.size()) == extension) {
    return path;
  }
  return std::filesystem::path(text + std::u16string(extension));
}

}  // namespace kavo
