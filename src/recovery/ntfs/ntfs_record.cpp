#include "recovery/ntfs/ntfs_record.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/bytes.h"

namespace kavo {

namespace {

// Record header.
constexpr uint32_t kOffUsaOffset = 0x04;
constexpr uint32_t kOffUsaCount = 0x06;
constexpr uint32_t kOffFirstAttribute = 0x14;
constexpr uint32_t kOffRecordFlags = 0x16;
constexpr uint32_t kOffBytesInUse = 0x18;
constexpr uint32_t kOffBytesAllocated = 0x1C;
constexpr uint32_t kOffRecordNumber = 0x2C;

constexpr uint16_t kRecordInUse = 0x0001;
constexpr uint16_t kRecordDirectory = 0x0002;

constexpr uint32_t kResidentHeader = 0x18;
constexpr uint32_t kNonResidentHeader = 0x40;

// $FILE_NAME value.
constexpr size_t kFileNameHeader = 0x42;
constexpr uint8_t kDosNamespace = 2;

// Metadata files that are never listed.
constexpr std::array<std::u16string_view, 11> kDroppedNames = {
    u"$MFT",    u"$MFTMirr", u"$LogFile", u"$Volume", u"$AttrDef", u".",
    u"$Bitmap", u"$Boot",    u"$BadClus", u"$Secure", u"$UpCase"};

// Takes the name and parent of a $FILE_NAME value unless it is a DOS name. False when the value
// is not usable.
bool TakeFileName(std::span<const uint8_t> value, ScanEntry& entry) {
  if (value.size() < kFileNameHeader) return false;
  const uint8_t length = value[0x40];
  if (value[0x41] == kDosNamespace || length == 0) return false;
  if (kFileNameHeader + 2 * size_t{length} > value.size()) return false;
  entry.parentId = LoadLe32(value.data());
  entry.name.resize(length);
  for (size_t i = 0; i < length; ++i) {
    entry.name[i] = static_cast<char16_t>(LoadLe16(value.data() + kFileNameHeader + 2 * i));
  }
  entry.nameLength = length;
  return true;
}

// The first usable $FILE_NAME of a record.
bool TakeNameFromRecord(const uint8_t* record, uint32_t recordBytes, ScanEntry& entry) {
  AttributeWalker walker(record, recordBytes);
  Attribute a;
  while (walker.Next(a)) {
    if (a.type == kAttrFileName && !a.nonResident && TakeFileName(a.value, entry)) return true;
  }
  return false;
}

uint64_t DataSize(const Attribute& a) {
  return a.nonResident ? a.realSize : a.value.size();
}

// The record number of a folder as its index root names it: the parent reference in the key of
// the first index entry. Zero when the root does not tell.
uint32_t IdFromIndexRoot(std::span<const uint8_t> value) {
  if (value.size() < 0x20 || LoadLe32(value.data()) != kAttrFileName) return 0;
  const uint8_t* header = value.data() + 0x10;
  const uint32_t entriesOffset = LoadLe32(header);
  const uint32_t inUse = LoadLe32(header + 4);
  const uint32_t allocated = LoadLe32(header + 8);
  if (inUse != allocated || inUse <= 0x28) return 0;
  const uint64_t entry = 0x10 + uint64_t{entriesOffset};
  if (entriesOffset < 0x10 || entry + 0x18 > value.size()) return 0;
  const uint8_t* e = value.data() + entry;
  const uint16_t keyLength = LoadLe16(e + 0x0A);
  const uint16_t entryFlags = LoadLe16(e + 0x0C);
  if ((entryFlags & 0x0002) != 0 || keyLength < 8) return 0;
  return LoadLe32(e + 0x10);
}

}  // namespace

AttributeWalker::AttributeWalker(const uint8_t* record, uint32_t recordBytes) : m_record(record) {
  if (recordBytes < 0x30) {
    m_failed = true;
    return;
  }
  m_inUse = std::min(LoadLe32(record + kOffBytesInUse), recordBytes);
  m_offset = LoadLe16(record + kOffFirstAttribute);
  if (m_offset < 0x2A || m_offset % 8 != 0) m_failed = true;
}

bool AttributeWalker::Next(Attribute& a) {
  if (m_failed || m_atEnd) return false;
  const auto fail = [this] {
    m_failed = true;
    return false;
  };
  if (uint64_t{m_offset} + 4 > m_inUse) return fail();
  const uint8_t* h = m_record + m_offset;
  const uint32_t type = LoadLe32(h);
  if (type == kAttrEnd) {
    m_atEnd = true;
    return false;
  }
  if (uint64_t{m_offset} + kResidentHeader > m_inUse) return fail();
  const uint32_t length = LoadLe32(h + 4);
  if (length < kResidentHeader || length % 8 != 0 || length > m_inUse - m_offset) return fail();
  if (type % 0x10 != 0 || type < 0x10 || type > 0x100) return fail();
  const uint8_t nonResident = h[8];
  if (nonResident > 1 || (type == kAttrStandardInformation && nonResident != 0)) return fail();
  const uint8_t nameLength = h[9];
  const uint16_t nameOffset = LoadLe16(h + 0x0A);
  if (nameLength != 0 && uint64_t{nameOffset} + 2 * uint64_t{nameLength} > length) return fail();

  a = Attribute{};
  a.header = h;
  a.type = type;
  a.length = length;
  a.nonResident = nonResident != 0;
  a.flags = LoadLe16(h + 0x0C);
  if (nameLength != 0) a.name = {h + nameOffset, 2 * size_t{nameLength}};
  if (!a.nonResident) {
    const uint32_t valueLength = LoadLe32(h + 0x10);
    const uint16_t valueOffset = LoadLe16(h + 0x14);
    if (uint64_t{valueOffset} + valueLength > length) return fail();
    a.value = {h + valueOffset, valueLength};
  } else {
    if (length < kNonResidentHeader) return fail();
    const uint16_t pairsOffset = LoadLe16(h + 0x20);
    if (pairsOffset > length) return fail();
    a.lowVcn = LoadLe64(h + 0x10);
    a.highVcn = LoadLe64(h + 0x18);
    a.compressionUnit = h[0x22];
    a.allocatedSize = LoadLe64(h + 0x28);
    a.realSize = LoadLe64(h + 0x30);
    a.initializedSize = LoadLe64(h + 0x38);
    a.mappingPairs = {h + pairsOffset, length - size_t{pairsOffset}};
  }
  m_offset += length;
  return true;
}

bool CheckRecord(uint8_t* r, uint32_t recordBytes) {
  if (recordBytes < kFixupStride || recordBytes % kFixupStride != 0) return false;
  if (std::memcmp(r, "FILE", 4) != 0) return false;
  const uint16_t usaOffset = LoadLe16(r + kOffUsaOffset);
  const uint16_t usaCount = LoadLe16(r + kOffUsaCount);
  if (usaOffset != 42 && usaOffset != 48) return false;
  if (usaCount == 0 || usaCount - 1u != recordBytes / kFixupStride) return false;
  const uint32_t inUse = LoadLe32(r + kOffBytesInUse);
  const uint32_t allocated = LoadLe32(r + kOffBytesAllocated);
  if (inUse > allocated || allocated != recordBytes || inUse % 8 != 0) return false;
  if (LoadLe16(r + kOffFirstAttribute) < usaOffset + 2u * usaCount) return false;

  const uint16_t usn = LoadLe16(r + usaOffset);
  for (uint32_t k = 1; k < usaCount && k * kFixupStride <= inUse; ++k) {
    uint8_t* tail = r + k * kFixupStride - 2;
    if (LoadLe16(tail) != usn) return false;
    std::memcpy(tail, r + usaOffset + 2 * k, 2);
  }

  AttributeWalker walker(r, recordBytes);
  Attribute a;
  uint32_t count = 0;
  while (walker.Next(a)) ++count;
  return walker.AtEndMarker() && count > 0;
}

size_t DecodeRunList(std::span<const uint8_t> bytes, size_t offset, RunList& list,
                     uint64_t firstVcn) {
  size_t appended = 0;
  uint64_t vcn = firstVcn;
  int64_t lcn = 0;
  while (offset < bytes.size()) {
    const uint8_t header = bytes[offset];
    if (header == 0) break;
    const size_t lengthSize = header & 0x0F;
    const size_t offsetSize = header >> 4;
    if (lengthSize == 0 || lengthSize > 4 || offsetSize > 4) break;
    if (offset + 1 + lengthSize + offsetSize > bytes.size()) break;
    const uint8_t* field = bytes.data() + offset + 1;
    // Lengths are signed like the deltas: a top bit set (an all-0xFF field among them) is no
    // length. A delta of all 0xFF bytes is -1, a fragment one cluster before the previous one.
    if ((field[lengthSize - 1] & 0x80) != 0) break;

    uint64_t length = 0;
    for (size_t i = 0; i < lengthSize; ++i) length |= uint64_t{field[i]} << (8 * i);
    if (length == 0) break;
    Run run;
    run.vcn = vcn;
    run.length = length;
    if (offsetSize == 0) {
      run.sparse = true;
    } else {
      const uint8_t* d = field + lengthSize;
      uint64_t raw = 0;
      for (size_t i = 0; i < offsetSize; ++i) raw |= uint64_t{d[i]} << (8 * i);
      if ((d[offsetSize - 1] & 0x80) != 0) raw |= ~uint64_t{0} << (8 * offsetSize);
      // Four-byte deltas keep the sum far from overflow; only the range needs checking.
      lcn += static_cast<int64_t>(raw);
      if (lcn < 0) break;
      run.lcn = static_cast<uint64_t>(lcn);
    }
    list.push_back(run);
    ++appended;
    vcn += length;
    offset += 1 + lengthSize + offsetSize;
  }
  return appended;
}

uint16_t FileTimeToDosDate(uint64_t fileTime) {
  // Days from 1601-01-01 to 1970-01-01.
  constexpr int64_t kEpochDays = 134774;
  const int64_t days = static_cast<int64_t>(fileTime / 10000000 / 86400) - kEpochDays;
  // Civil date from days since 1970-01-01 (proleptic Gregorian).
  const int64_t z = days + 719468;
  const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
  const int64_t doe = z - era * 146097;
  const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
  const int64_t mp = (5 * doy + 2) / 153;
  const int64_t day = doy - (153 * mp + 2) / 5 + 1;
  const int64_t month = mp < 10 ? mp + 3 : mp - 9;
  const int64_t year = yoe + era * 400 + (month <= 2 ? 1 : 0);
  if (year < 1980 || year > 2107) return 0;
  return static_cast<uint16_t>(((year - 1980) << 9) | (month << 5) | day);
}

bool FindAttribute(const uint8_t* record, uint32_t recordBytes, uint32_t type,
                   std::span<const uint8_t> name, uint64_t lowVcn, Attribute& attribute) {
  AttributeWalker walker(record, recordBytes);
  while (walker.Next(attribute)) {
    if (attribute.type == type && std::ranges::equal(attribute.name, name) &&
        (attribute.nonResident ? attribute.lowVcn : 0) == lowVcn) {
      return true;
    }
  }
  return false;
}

bool ParseRecord(const uint8_t* record, uint32_t recordBytes, ScanEntry& entry,
                 NtfsRecordSource* source, bool* hasData) {
  if (hasData != nullptr) *hasData = false;
  if (recordBytes < 0x30) return false;
  const uint16_t recordFlags = LoadLe16(record + kOffRecordFlags);
  const bool inUse = (recordFlags & kRecordInUse) != 0;
  const bool directory = (recordFlags & kRecordDirectory) != 0;
  entry.flags = static_cast<uint8_t>((inUse ? NF_PRESENT : 0) | (directory ? NF_FOLDER : 0));

  // Without a source only the record itself can be followed from its attribute list.
  const bool hasOwnNumber = LoadLe16(record + kOffUsaOffset) == 48;
  const uint64_t ownNumber = LoadLe32(record + kOffRecordNumber);
  const auto recordFor = [&](uint64_t number) -> const uint8_t* {
    if (source != nullptr) return source->ReadRecord(number);
    return hasOwnNumber && number == ownNumber ? record : nullptr;
  };

  bool sizeKnown = false;
  AttributeWalker walker(record, recordBytes);
  Attribute a;
  bool done = false;
  while (!done && walker.Next(a)) {
    switch (a.type) {
      case kAttrStandardInformation:
        if (a.value.size() >= 16) {
          entry.createdDate = FileTimeToDosDate(LoadLe64(a.value.data()));
          entry.modifiedDate = FileTimeToDosDate(LoadLe64(a.value.data() + 8));
        }
        break;

      case kAttrAttributeList: {
        std::vector<uint8_t> owned;
        std::span<const uint8_t> list;
        if (!a.nonResident) {
          list = a.value;
        } else if (source != nullptr) {
          RunList runs;
          DecodeRunList(a.mappingPairs, 0, runs);
          const auto bytes =
              static_cast<uint32_t>(std::min<uint64_t>(a.realSize, kMaxAttributeListBytes));
          if (source->ReadValue(runs, bytes, owned)) list = owned;
        }
        ForEachListEntry(list, kAttrData, [&](const AttributeListEntry& e) {
          if (e.type == kAttrFileName && entry.name.empty()) {
            if (const uint8_t* other = recordFor(e.record)) {
              TakeNameFromRecord(other, recordBytes, entry);
            }
          } else if (e.type == kAttrData && e.name.empty() && e.lowVcn == 0 && !sizeKnown) {
            Attribute data;
            const uint8_t* other = recordFor(e.record);
            if (other != nullptr && FindUnnamedData(other, recordBytes, 0, data)) {
              entry.size = DataSize(data);
              sizeKnown = true;
            }
          }
          return true;
        });
        if (!directory) done = true;
        break;
      }

      case kAttrFileName:
        if (entry.name.empty() && !a.nonResident) TakeFileName(a.value, entry);
        break;

      case kAttrData:
        if (!a.name.empty()) break;
        if (directory) return false;
        entry.size = DataSize(a);
        sizeKnown = true;
        done = true;
        break;

      case kAttrIndexRoot:
        if (!directory) return false;
        if (!a.nonResident) {
          const uint32_t id = IdFromIndexRoot(a.value);
          if (id != 0) entry.id = id;
        }
        done = true;
        break;

      default: break;
    }
  }

  if (hasData != nullptr) *hasData = sizeKnown;
  const std::u16string_view name(entry.name);
  if (std::find(kDroppedNames.begin(), kDroppedNames.end(), name) != kDroppedNames.end()) {
    entry.name.clear();
    entry.nameLength = 0;
    return false;
  }
  return true;
}

}  // namespace kavo
