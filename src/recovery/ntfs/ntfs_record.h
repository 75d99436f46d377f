// MFT records: validation and fix-ups, the attribute layout, run lists, and the reading of one
// base record into a ScanEntry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "recovery/tree.h"

namespace kavo {

// Attribute types.
inline constexpr uint32_t kAttrStandardInformation = 0x10;
inline constexpr uint32_t kAttrAttributeList = 0x20;
inline constexpr uint32_t kAttrFileName = 0x30;
inline constexpr uint32_t kAttrData = 0x80;
inline constexpr uint32_t kAttrIndexRoot = 0x90;
inline constexpr uint32_t kAttrEnd = 0xFFFFFFFF;

// The update-sequence stride: the last two bytes of every 512-byte block of a record carry the
// update sequence number, whatever the volume's sector size.
inline constexpr uint32_t kFixupStride = 512;

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
bool ParseRecord(const uint8_t* record, uint32_t recordBytes, ScanEntry& entry,
                 NtfsRecordSource* source);

// The unnamed $DATA attribute with the given lowest cluster in a checked record.
bool FindUnnamedData(const uint8_t* record, uint32_t recordBytes, uint64_t lowVcn,
                     Attribute& attribute);

}  // namespace kavo
