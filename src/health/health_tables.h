// The texts of the drive-health tables: the drive table (one row per physical drive) and the
// attribute table (one row per SMART attribute of a drive), shared by the drive-health page and
// kavo-cli; and the rows of an NVMe drive's health log.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "disk/drive_records.h"

namespace kavo {

enum class ColumnAlign { Left, Right, Centre };

struct TableColumn {
  const char16_t* header;
  int width;  // pixels
  ColumnAlign align;
};

extern const std::array<TableColumn, 7> kDriveTableColumns;
extern const std::array<TableColumn, 6> kAttributeTableColumns;

// One slot of a SMART area.
struct SmartAttribute {
  uint8_t id = 0;
  uint8_t flags = 0;  // status flags, low byte
  uint8_t threshold = 0;
  uint8_t current = 0;
  uint8_t worst = 0;
  std::array<uint8_t, 6> raw{};  // least significant first
};

// The slots from the first while the ID is not 0, at most 30.
std::vector<SmartAttribute> SmartAttributes(const SmartArea& area);
uint64_t SmartRawValue(const SmartAttribute& attribute);

// The name of an attribute ID; "" for an ID that has none.
const char16_t* SmartAttributeName(uint8_t id);

// The model string up to its first space (all of it without one).
std::u16string ManufacturerText(std::u16string_view model);
// The model string cut before the first space at or after character 8, then the text after its
// last space when it has one.
std::u16string ModelText(std::u16string_view model);
// "%.2f GB", "%.2f MB" or "%.2f KB" of the size over 2^30, 2^20 or 2^10 in single precision,
// by the largest unit the size reaches; "" below 1024 bytes.
std::u16string SizeText(uint64_t bytes);
// "%d °C", or "N/A" for 0.
std::u16string TemperatureText(uint32_t celsius);
// The ID in upper-case hexadecimal ("C2", "9").
std::u16string AttributeIdText(uint8_t id);
// Raw bytes 4, 3, 2, 1, 0 as "%02x" each: ten lower-case digits.
std::u16string RawDataText(const SmartAttribute& attribute);

struct DriveTableRow {
  std::u16string number, manufacturer, model, serialNumber, size, temperature, status;
};
DriveTableRow DriveTableRowOf(const DriveRecord& record, int number);

struct AttributeTableRow {
  std::u16string id, name, current, worst, threshold, rawData;
};
std::vector<AttributeTableRow> AttributeTableRows(const SmartArea& area);

// The health log of an NVMe drive as name and value rows, in log order.
struct NvmeHealthRow {
  const char16_t* name;
  std::u16string value;
};
std::vector<NvmeHealthRow> NvmeHealthRows(const NvmeHealth& health);

}  // namespace kavo
