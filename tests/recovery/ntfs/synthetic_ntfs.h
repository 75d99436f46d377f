// Byte-level builders for MFT records and small NTFS volumes in memory, for the damage that real
// tools never write.
#pragma once

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <utility>
#include <vector>

#include "disk/disk.h"
#include "disk/volume.h"
#include "platform/bytes.h"
#include "support/memory_device.h"

namespace kavo::test {

using Bytes = std::vector<uint8_t>;

// Mapping pairs from (length, delta) pairs; a delta of kSparse makes a sparse run.
inline constexpr int64_t kSparse = INT64_MIN;
inline Bytes RunPairs(const std::vector<std::pair<uint64_t, int64_t>>& runs) {
  Bytes out;
  const auto bytesOf = [](int64_t v) {
    size_t n = 1;
    while (n < 8 && !(v >= -(int64_t{1} << (8 * n - 1)) && v < (int64_t{1} << (8 * n - 1)))) ++n;
    return n;
  };
  for (const auto& [length, delta] : runs) {
    const size_t l = bytesOf(static_cast<int64_t>(length));
    const size_t o = delta == kSparse ? 0 : bytesOf(delta);
    out.push_back(static_cast<uint8_t>(l | (o << 4)));
    for (size_t i = 0; i < l; ++i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
    for (size_t i = 0; i < o; ++i) out.push_back(static_cast<uint8_t>(delta >> (8 * i)));
  }
  out.push_back(0);
  return out;
}

// One MFT record, attribute by attribute; Build() adds the end marker and the fix-ups.
class RecordBuilder {
 public:
  explicit RecordBuilder(uint32_t number, uint16_t flags = 1, uint16_t usaOffset = 48,
                         uint32_t recordBytes = 1024)
      : m_bytes(recordBytes, 0), m_usaOffset(usaOffset) {
    std::memcpy(m_bytes.data(), "FILE", 4);
    StoreLe16(&m_bytes[4], usaOffset);
    StoreLe16(&m_bytes[6], static_cast<uint16_t>(recordBytes / 512 + 1));
    StoreLe16(&m_bytes[0x10], 1);  // sequence number
    StoreLe16(&m_bytes[0x16], flags);
    StoreLe32(&m_bytes[0x1C], recordBytes);
    if (usaOffset == 48) StoreLe32(&m_bytes[0x2C], number);
    m_offset = (usaOffset + 2 * (recordBytes / 512 + 1) + 7) / 8 * 8;
    StoreLe16(&m_bytes[0x14], static_cast<uint16_t>(m_offset));
  }

  RecordBuilder& BaseRecord(uint64_t reference) {
    StoreLe64(&m_bytes[0x20], reference);
    return *this;
  }
  RecordBuilder& StandardInformation(uint64_t created, uint64_t modified) {
    Bytes v(48, 0);
    StoreLe64(&v[0], created);
    StoreLe64(&v[8], modified);
    return Resident(0x10, v);
  }
  RecordBuilder& FileName(uint64_t parent, std::u16string_view name, uint8_t nameSpace = 1) {
    Bytes v(0x42 + 2 * name.size(), 0);
    StoreLe64(&v[0], parent);
    v[0x40] = static_cast<uint8_t>(name.size());
    v[0x41] = nameSpace;
    for (size_t i = 0; i < name.size(); ++i) StoreLe16(&v[0x42 + 2 * i], name[i]);
    return Resident(0x30, v);
  }
  RecordBuilder& Resident(uint32_t type, const Bytes& value, std::u16string_view name = u"") {
    const uint32_t nameOffset = 0x18;
    const uint32_t valueOffset = (nameOffset + 2 * static_cast<uint32_t>(name.size()) + 7) / 8 * 8;
    const uint32_t length = (valueOffset + static_cast<uint32_t>(value.size()) + 7) / 8 * 8;
    uint8_t* h = Header(type, length, false, name, nameOffset);
    StoreLe32(h + 0x10, static_cast<uint32_t>(value.size()));
    StoreLe16(h + 0x14, static_cast<uint16_t>(valueOffset));
    if (!value.empty()) std::memcpy(h + valueOffset, value.data(), value.size());
    return *this;
  }
  RecordBuilder& NonResident(uint32_t type, const Bytes& pairs, uint64_t realSize,
                             uint64_t lowVcn = 0, uint16_t flags = 0, uint8_t unit = 0) {
    const uint32_t length = (0x40 + static_cast<uint32_t>(pairs.size()) + 7) / 8 * 8;
    uint8_t* h = Header(type, length, true, u"", 0x40);
    StoreLe16(h + 0x0C, flags);
    StoreLe64(h + 0x10, lowVcn);
    StoreLe16(h + 0x20, 0x40);
    h[0x22] = unit;
    StoreLe64(h + 0x28, realSize);
    StoreLe64(h + 0x30, realSize);
    StoreLe64(h + 0x38, realSize);
    std::memcpy(h + 0x40, pairs.data(), pairs.size());
    return *this;
  }
  // An index root of file names whose first entry names `folder` as its parent.
  RecordBuilder& IndexRoot(uint32_t folder) {
    Bytes v(0x10 + 0x10 + 0x58 + 0x10, 0);
    StoreLe32(&v[0], 0x30);
    StoreLe32(&v[0x10], 0x10);                // entries offset
    StoreLe32(&v[0x14], 0x10 + 0x58 + 0x10);  // bytes in use
    StoreLe32(&v[0x18], 0x10 + 0x58 + 0x10);  // bytes allocated
    StoreLe16(&v[0x20 + 8], 0x58);            // entry length
    StoreLe16(&v[0x20 + 0x0A], 0x42);         // key length
    StoreLe64(&v[0x20 + 0x10], folder);       // key: the entry's parent
    StoreLe16(&v[0x20 + 0x58 + 8], 0x10);     // the last entry
    StoreLe16(&v[0x20 + 0x58 + 0x0C], 2);
    return Resident(0x90, v, u"$I30");
  }

  // The finished record with its fix-ups applied for writing (sector tails moved to the array).
  Bytes Build(uint16_t usn = 7) const {
    Bytes b = m_bytes;
    StoreLe32(&b[m_offset], 0xFFFFFFFF);
    StoreLe32(&b[0x18], m_offset + 8);
    StoreLe16(&b[m_usaOffset], usn);
    for (size_t k = 1; k <= b.size() / 512; ++k) {
      std::memcpy(&b[m_usaOffset + 2 * k], &b[k * 512 - 2], 2);
      StoreLe16(&b[k * 512 - 2], usn);
    }
    return b;
  }

 private:
  uint8_t* Header(uint32_t type, uint32_t length, bool nonResident, std::u16string_view name,
                  uint32_t nameOffset) {
    uint8_t* h = &m_bytes[m_offset];
    StoreLe32(h, type);
    StoreLe32(h + 4, length);
    h[8] = nonResident ? 1 : 0;
    h[9] = static_cast<uint8_t>(name.size());
    StoreLe16(h + 0x0A, static_cast<uint16_t>(nameOffset));
    for (size_t i = 0; i < name.size(); ++i) StoreLe16(h + nameOffset + 2 * i, name[i]);
    m_offset += length;
    return h;
  }

  Bytes m_bytes;
  uint16_t m_usaOffset;
  uint32_t m_offset;
};

// A small NTFS volume: 4096-byte clusters, 1024-byte records, the MFT at cluster 4 (64 records)
// and its mirror at cluster 2. Records 1-15 are left empty; user records go from 16 on.
class SyntheticVolume {
 public:
  static constexpr uint32_t kClusterBytes = 4096;
  static constexpr uint32_t kRecordBytes = 1024;
  static constexpr uint64_t kMftCluster = 4;
  static constexpr uint64_t kMirrorCluster = 2;
  static constexpr uint32_t kMftRecords = 64;

  explicit SyntheticVolume(uint32_t clusters = 256) : m_bytes(uint64_t{clusters} * kClusterBytes) {
    uint8_t* b = m_bytes.data();
    b[0] = 0xEB;
    b[1] = 0x52;
    b[2] = 0x90;
    std::memcpy(b + 3, "NTFS    ", 8);
    StoreLe16(b + 0x0B, 512);
    b[0x0D] = kClusterBytes / 512;
    StoreLe16(b + 0x24, 0x80);
    StoreLe64(b + 0x28, uint64_t{clusters} * (kClusterBytes / 512) - 1);
    StoreLe64(b + 0x30, kMftCluster);
    StoreLe64(b + 0x38, kMirrorCluster);
    b[0x40] = 0xF6;  // 1024-byte records
    b[0x44] = 1;
    b[0x1FE] = 0x55;
    b[0x1FF] = 0xAA;
    const uint64_t mftClusters = kMftRecords * kRecordBytes / kClusterBytes;
    const Bytes mft =
        RecordBuilder(0)
            .StandardInformation(0, 0)
            .FileName(5, u"$MFT")
            .NonResident(0x80, RunPairs({{mftClusters, kMftCluster}}), kMftRecords * kRecordBytes)
            .Build();
    SetRecord(0, mft);
    Write(kMirrorCluster * kClusterBytes, mft);
  }

  void SetRecord(uint32_t number, const Bytes& record) {
    Write(kMftCluster * kClusterBytes + uint64_t{number} * kRecordBytes, record);
  }
  void Write(uint64_t offset, const Bytes& bytes) {
    std::memcpy(m_bytes.data() + offset, bytes.data(), bytes.size());
  }
  Bytes& bytes() { return m_bytes; }

  // Opens the volume as an image source and detects it.
  std::unique_ptr<CDisk> Open() const {
    auto disk = OpenBytes(std::make_shared<const Bytes>(m_bytes), u"synthetic.img");
    if (disk == nullptr || !DetectVolume(*disk)) return nullptr;
    return disk;
  }

 private:
  Bytes m_bytes;
};

}  // namespace kavo::test
