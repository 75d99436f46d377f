#include "scanners/raw_scan.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "base/messages.h"
#include "scanners/source_reader.h"

namespace kavo {

namespace {

// Names are at most 50 units with their terminator.
constexpr size_t kMaxNameUnits = 49;

// The scanners that can match a sector, by the sector's first byte, each list in registry order.
// Most sectors of a disk lead with a byte no selected format starts with, and are passed over
// without a call.
class LeadByteDispatch {
 public:
  explicit LeadByteDispatch(const ScannerRegistry& registry) {
    for (size_t b = 0; b < m_lists.size(); ++b) {
      for (size_t i = 0; i < registry.Size(); ++i) {
        if (registry.At(i)->CanMatchLeadByte(static_cast<uint8_t>(b))) {
          m_lists[b].push_back(registry.At(i));
        }
      }
    }
  }
  const std::vector<CBaseScanner*>& For(uint8_t lead) const { return m_lists[lead]; }

 private:
  std::array<std::vector<CBaseScanner*>, 256> m_lists;
};

// Hands the scan's progress record and reader to the scanners for the scan's duration.
class ScanBinding {
 public:
  ScanBinding(ScannerRegistry& registry, ProgressRecord* progress, SourceReader* reader)
      : m_registry(registry) {
    for (size_t i = 0; i < registry.Size(); ++i) {
      registry.At(i)->m_pProgress = progress;
      registry.At(i)->m_pReader = reader;
    }
  }
  ~ScanBinding() {
    for (size_t i = 0; i < m_registry.Size(); ++i) {
      m_registry.At(i)->m_pProgress = nullptr;
      m_registry.At(i)->m_pReader = nullptr;
    }
  }
  ScanBinding(const ScanBinding&) = delete;
  ScanBinding& operator=(const ScanBinding&) = delete;

 private:
  ScannerRegistry& m_registry;
};

std::u16string FileName(uint64_t number, const std::u16string& extension) {
  std::u16string name = u"file";
  for (char c : std::to_string(number)) name.push_back(static_cast<char16_t>(c));
  name.push_back(u'.');
  name += extension;
  if (name.size() > kMaxNameUnits) name.resize(kMaxNameUnits);
  return name;
}

// Enters the hit of `scanner` in the tree and returns how far the sector loop moves on.
uint64_t RecordHit(const CBaseScanner& scanner, RecoveredNode* fileType, uint64_t& fileNumber) {
  // The extension folder appears even for a hit that yields no file.
  RecoveredNode* folder = FindChildFolder(fileType, scanner.m_strExtension);
  if (!folder) folder = AddChildFolder(fileType, scanner.m_strExtension);
  if (scanner.m_nLength <= 0 || scanner.m_nStartSector > scanner.m_nEndSector) return 1;

  const std::u16string name = FileName(fileNumber++, scanner.m_strExtension);
  NodePtr node = NewNode();
  node->name = name;
  node->name.append(2, u'\0');
  node->nameLength = static_cast<uint8_t>(name.size() + 2);
  node->size = static_cast<uint64_t>(scanner.m_nLength);
  node->location = scanner.m_nStartSector;
  node->endSector = scanner.m_nEndSector;
  node->origin = ORIGIN_RAW_SCAN;
  AppendChild(folder, std::move(node));

  // Jump to the file's last sector; a file within one sector resumes two sectors on.
  const uint32_t span = static_cast<uint32_t>(scanner.m_nEndSector - scanner.m_nStartSector);
  return span == 0 ? 2 : span;
}

}  // namespace

uint32_t RawScan(CDisk& source, uint64_t firstSector, uint64_t endSector, ScannerRegistry& registry,
                 RecoveredNode* fileType, ProgressRecord* progress, MessageSink& progressWindow) {
  ProgressRecord ownRecord;
  if (!progress) progress = &ownRecord;
  if (source.m_nTotalSectors != 0) endSector = std::min(endSector, source.m_nTotalSectors);
  progress->SetEnd(endSector);
  progress->SetPosition(firstSector);
  if (firstSector >= endSector) return 1;

  SourceReader reader(source);
  const uint32_t ss = reader.SectorSize();
  const uint32_t blockSectors = std::max<uint32_t>(kRawScanBlockBytes / ss, 1);
  registry.Bind(&source);
  ScanBinding binding(registry, progress, &reader);
  const LeadByteDispatch dispatch(registry);
  std::vector<uint8_t> sector(ss);
  uint64_t fileNumber = 0;

  uint64_t position = firstSector;
  for (;;) {
    if (ShouldStop(progress)) return 1;
    const uint8_t* block = reader.Block(position, blockSectors);
    // Sectors of the last block that lie past the range are passed over.
    const uint64_t inRange = std::min<uint64_t>(blockSectors, endSector - position);
    uint64_t index = 0;
    while (index < inRange) {
      const uint8_t* current = block + index * ss;
      uint64_t lead = 0;
      std::memcpy(&lead, current, sizeof lead);
      const std::vector<CBaseScanner*>& candidates = dispatch.For(current[0]);
      // A sector that starts with eight zero bytes is offered to no scanner.
      if (lead == 0 || candidates.empty()) {
        ++index;
        continue;
      }
      CBaseScanner* hit = nullptr;
      bool stopped = false;
      for (CBaseScanner* scanner : candidates) {
        if (ShouldStop(progress)) {
          stopped = true;
          break;
        }
        if (!scanner->MatchSignature(current, position, static_cast<uint32_t>(index))) continue;
        // ParseFile may reuse its buffer for later sectors; each scanner gets the sector as read.
        std::memcpy(sector.data(), current, ss);
        if (scanner->ParseFile(sector.data())) {
          hit = scanner;
          break;
        }
      }
      if (stopped) break;
      index += hit ? RecordHit(*hit, fileType, fileNumber) : 1;
    }
    // The rest of the block is passed over; a skip past the block carries into the next ones.
    index = std::max<uint64_t>(index, blockSectors);
    position = index > std::numeric_limits<uint64_t>::max() - position
                   ? std::numeric_limits<uint64_t>::max()
                   : position + index;
    progress->SetPosition(position);
    progressWindow.Send(UM_PROGRESS, 0, 0);
    if (position >= endSector) return 1;
  }
}

}  // namespace kavo
