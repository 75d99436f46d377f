// MFT records: validation and fix-ups, the attribute layout, run lists, and the reading of one
// base record into a ScanEntry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "platform/bytes.h"
#include "recovery/tree.h"

namespace kavo {

// Attribute types.
inline constexpr uint32_t kAttrStandardInformation = 0x10;
inline constexpr uint32_t kAttrAttributeList = 0x20;
inline constexpr uint32_t kAttrFileName = 0x30;
inline constexpr uint32_t kAttrData = 0x80;
inline constexpr uint32_t kAttrIndexRoot = 0x90;
inline constexpr uint32_t kAttrIndexAllocation = 0xA0;
inline constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

// The update-sequence stride: the last two bytes of every 512-byte block of a record carry the
// update sequence number, whatever the volume's sector size.
inline constexpr uint32_t kFixupStride = 512;

// Record header fields that the readers above the record layer use.
inline constexpr uint32_t kRecordUsaOffsetField = 0x04;  // 16 bits: 48 on records that carry
inline constexpr uint32_t kRecordSequence = 0x10;        // 16 bits
inline constexpr uint32_t kRecordFlags = 0x16;           // 16 bits: 1 in use, 2 directory
inline constexpr uint32_t kRecordBaseReference = 0x20;   // 64 bits: 0 on base records
inline constexpr uint32_t kRecordOwnNumber = 0x2C;       // 32 bits, when the offset above is 48

// The record's own number when its header carries one, else `fallback` (its place in the MFT).
inline uint64_t RecordNumberOf(const uint8_t* record, uint64_t fallback) {
  return LoadLe16(record + kRecordUsaOffsetField) == 48 ? LoadLe32(record + kRecordOwnNumber)
                                                        : fallback;
}

// A file reference: the record number in its low 48 bits, the record's sequence number above.
inline constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;

// The largest attribute list read (NTFS limits the list to 256 KiB).
inline constexpr uint32_t kMaxAttributeListBytes = 256 * 1024;

// One extent of an attribute's clusters.
struct Run {
  uint64_t vcn = 0;     // first cluster within the attribute
  uint64_t length = 0;  // clusters
  uint64_t lcn = 0;     // first cluster on the volume; 0 for a sparse run
  bool sparse = false;
};
using RunList = std::vector<Run>;

// One attribute of a record, its header fields decoded and bounds-checked against the record.
struct Attribute {
  const uint8_t* header = nullptr;
  uint32_t type = 0;
  uint32_t length = 0;
  bool nonResident = false;
  uint16_t flags = 0;             // 0x0001 compressed, 0x4000 encrypted, 0x8000 sparse
  std::span<const uint8_t> name;  // UTF-16LE bytes; empty for unnamed attributes
  // Resident attributes.
  std::span<const uint8_t> value;
  // Non-resident attributes.
  uint64_t lowVcn = 0;
  uint64_t highVcn = 0;
  uint8_t compressionUnit = 0;  // log2 of the clusters per compression unit
  uint64_t allocatedSize = 0;
  uint64_t realSize = 0;
  uint64_t initializedSize = 0;
  std::span<const uint8_t> mappingPairs;

  bool Compressed() const { return (flags & 0x0001) != 0; }
};

// Walks the attributes of a record from its first-attribute offset up to its bytes in use.
// Every attribute it yields lies inside the record and has a well-formed header; the walk ends
// at the end marker or at the first malformed attribute.
class AttributeWalker {
 public:
  AttributeWalker(const uint8_t* record, uint32_t recordBytes);
  // The next attribute; false at the end marker or on a malformed attribute.
  bool Next(Attribute& attribute);
  // True once the walk has reached the end marker (rather than stopping on a fault).
  bool AtEndMarker() const { return m_atEnd; }

 private:
  const uint8_t* m_record;
  uint32_t m_inUse = 0;
  uint32_t m_offset = 0;
  bool m_atEnd = false;
  bool m_failed = false;
};

// Validates one MFT record of `recordBytes` bytes and applies its update-sequence fix-ups in
// place. False when the record is not a sound, complete FILE record; the buffer may then hold
// partly applied fix-ups.
bool CheckRecord(uint8_t* record, uint32_t recordBytes);

// Appends the runs of the mapping-pairs array that starts at `offset` of `bytes` to `list`, the
// first at cluster `firstVcn` of the attribute. Stops at a zero header byte, at a field wider
// than 4 bytes, at a zero or negative length (an all-0xFF length among them), at an LCN below 0,
// or at the end of `bytes`. Returns the number of runs appended.
size_t DecodeRunList(std::span<const uint8_t> bytes, size_t offset, RunList& list,
                     uint64_t firstVcn = 0);

// The DOS date (bits 15-9 year - 1980, 8-5 month, 4-0 day) of a FILETIME, without time-zone
// conversion; 0 outside 1980-2107.
uint16_t FileTimeToDosDate(uint64_t fileTime);

// Gives ParseRecord the records and clusters that an attribute list refers to.
class NtfsRecordSource {
 public:
  virtual ~NtfsRecordSource() = default;
  // The checked record `number` (the record being parsed or one of its extension records), or
  // null when it cannot be read or checked. Valid until the next call.
  virtual const uint8_t* ReadRecord(uint64_t number) = 0;
  // The first `bytes` bytes (at most kMaxAttributeListBytes) of a non-resident value.
  virtual bool ReadValue(const RunList& runs, uint32_t bytes, std::vector<uint8_t>& out) = 0;
};

// Fills `entry` (flags, dates, name, parentId, size, and for some folders id) from one checked
// base record of `recordBytes` bytes. `source` may be null: attribute lists are then read only
// when resident and only from this record. False when the record is to be dropped: a folder with
// unnamed data, a file with an index root, a system file of the metadata set, or ".".
// `hasData` (may be null) tells whether the record has an unnamed $DATA attribute: a file with
// one is a file even when it is empty; a file record without one holds no file data at all.
bool ParseRecord(const uint8_t* record, uint32_t recordBytes, ScanEntry& entry,
                 NtfsRecordSource* source, bool* hasData = nullptr);

// The attribute of `type` named `name` (UTF-16LE bytes; empty for an unnamed one) with the given
// lowest cluster in a checked record.
bool FindAttribute(const uint8_t* record, uint32_t recordBytes, uint32_t type,
                   std::span<const uint8_t> name, uint64_t lowVcn, Attribute& attribute);

// The unnamed $DATA attribute with the given lowest cluster in a checked record.
inline bool FindUnnamedData(const uint8_t* record, uint32_t recordBytes, uint64_t lowVcn,
                            Attribute& attribute) {
  return FindAttribute(record, recordBytes, kAttrData, {}, lowVcn, attribute);
}

// One entry of an attribute list: the attribute's type, name (UTF-16LE bytes), lowest cluster
// and the record that holds it.
struct AttributeListEntry {
  uint32_t type = 0;
  std::span<const uint8_t> name;
  uint64_t lowVcn = 0;
  uint64_t record = 0;
};

// Calls `visit` for each well-formed entry of an attribute list's value, in order, until an
// entry of a type above `lastType`, a malformed entry, or `visit` returning false.
template <typename Visit>
void ForEachListEntry(std::span<const uint8_t> list, uint32_t lastType, Visit visit) {
  constexpr size_t kEntryHeader = 0x1A;
  for (size_t off = 0; off + kEntryHeader <= list.size();) {
    const uint8_t* e = list.data() + off;
    AttributeListEntry entry;
    entry.type = LoadLe32(e);
    const size_t length = LoadLe16(e + 4);
    const size_t nameLength = e[6];
    const size_t nameOffset = e[7];
    if (length < kEntryHeader || off + length > list.size() || entry.type > lastType) return;
    if (nameLength != 0) {
      if (nameOffset + 2 * nameLength > length) return;
      entry.name = {e + nameOffset, 2 * nameLength};
    }
    entry.lowVcn = LoadLe64(e + 8);
    entry.record = LoadLe64(e + 0x10) & kRecordNumberMask;
    off += length;
    if (!visit(entry)) return;
  }
}

}  // namespace kavo
