#include "health/health_tables.h"

#include <algorithm>
#include <cstdio>

#include "platform/text.h"

namespace kavo {

namespace {

struct NamedId {
  uint8_t id;
  const char16_t* name;
};

constexpr NamedId kAttributeNames[] = {
    {1, u"Raw Read Error Rate"},
    {2, u"Throughput Performance"},
    {3, u"Spin Up Time"},
    {4, u"Start Stop Count"},
    {5, u"Reallocated Sectors Count"},
    {6, u"Read Channel Margin"},
    {7, u"Seek Error Rate"},
    {8, u"Seek Time Performance"},
    {9, u"Power On Hours POH"},
    {10, u"Spin Retry Count"},
    {11, u"Calibration Retry Count"},
    {12, u"Power Cycle Count"},
    {13, u"Soft Read Error Rate"},
    {183, u"SATA Downshift Error Count"},
    {184, u"End to Enderror"},
    {185, u"Head Stability"},
    {186, u"Induced Op Vibration Detection"},
    {187, u"Reported Uncorrectable Errors"},
    {188, u"Command Timeout"},
    {189, u"High Fly Writes"},
    {190, u"Airflow Temperature"},
    {191, u"G Sense Error Rate"},
    {192, u"Power off React Count"},
    {193, u"Load Cycle Count"},
    {194, u"Temperature"},
    {195, u"Hardware ECC Recovered"},
    {196, u"Reallocation Event Count"},
    {197, u"Current Pending Sector Count"},
    {198, u"Uncorrectable Sector Count"},
    {199, u"Ultra DMACRC Error Count"},
    {200, u"Write Error Rate"},
    {201, u"Off Track Soft Read Error Rate"},
    {202, u"Data Address Mark errors"},
    {203, u"Run Out Cancel"},
    {204, u"Soft ECC Correction"},
    {205, u"Thermal Asperity Rate TAR"},
    {206, u"Flying Height"},
    {207, u"Spin High Current"},
    {208, u"Spin Buzz"},
    {209, u"Offline Seek Performance"},
    {211, u"Vibration During Write"},
    {212, u"Shock During Write"},
    {220, u"Disk Shift"},
    {221, u"GSense Error Rate Alt"},
    {222, u"Loaded Hours"},
    {223, u"Load Unload Retry Count"},
    {224, u"Load Friction"},
    {225, u"Load Unload Cycle Count"},
    {226, u"Load In Time"},
    {227, u"Torque Amplification Count"},
    {228, u"Power Off Retract Cycle"},
    {230, u"GMR Head Amplitude"},
    {231, u"Drive Temperature"},
    {240, u"Transfer Error Rate"},
    {241, u"Tota LBAs Written"},
    {242, u"Total LBAs Read"},
    {250, u"Read Error Retry Rate"},
    {254, u"Free Fall Protection"},
};
static_assert(std::size(kAttributeNames) == 58);

std::u16string Printf(const char* format, auto... values) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, format, values...);
  return platform::Widen(buffer);
}

std::u16string Decimal(uint64_t value) {
  return platform::Widen(std::to_string(value));
}

}  // namespace

const std::array<TableColumn, 7> kDriveTableColumns = {{
    {u"No.", 40, ColumnAlign::Left},
    {u"Manufacturer", 100, ColumnAlign::Left},
    {u"Model", 150, ColumnAlign::Left},
    {u"Serial No.", 150, ColumnAlign::Left},
    {u"Size", 80, ColumnAlign::Right},
    {u"Temperature", 80, ColumnAlign::Right},
    {u"Status", 80, ColumnAlign::Left},
}};

const std::array<TableColumn, 6> kAttributeTableColumns = {{
    {u"ID", 40, ColumnAlign::Left},
    {u"Attribute Name", 230, ColumnAlign::Left},
    {u"Current Value", 100, ColumnAlign::Right},
    {u"Worst", 60, ColumnAlign::Right},
    {u"Threshold", 80, ColumnAlign::Right},
    {u"Raw Data", 100, ColumnAlign::Right},
}};

std::vector<SmartAttribute> SmartAttributes(const SmartArea& area) {
  std::vector<SmartAttribute> attributes;
  for (size_t i = 0; i < kSmartSlots; ++i) {
    const uint8_t* s = area.data() + 2 + 12 * i;
    if (s[0] == 0) break;
    SmartAttribute a;
    a.id = s[0];
    a.flags = s[1];
    a.threshold = s[2];
    a.current = s[3];
    a.worst = s[4];
    std::copy_n(s + 5, 6, a.raw.begin());
    attributes.push_back(a);
  }
  return attributes;
}

uint64_t SmartRawValue(const SmartAttribute& a) {
  uint64_t value = 0;
  for (size_t i = a.raw.size(); i-- > 0;) value = value << 8 | a.raw[i];
  return value;
}

const char16_t* SmartAttributeName(uint8_t id) {
  for (const NamedId& n : kAttributeNames) {
    if (n.id == id) return n.name;
  }
  return u"";
}

std::u16string ManufacturerText(std::u16string_view model) {
  return std::u16string(model.substr(0, model.find(u' ')));
}

std::u16string ModelText(std::u16string_view model) {
  std::u16string_view cut = model.substr(0, model.find(u' ', 8));
  const size_t last = cut.rfind(u' ');
  if (last != std::u16string_view::npos) cut = cut.substr(last + 1);
  return std::u16string(cut);
}

std::u16string SizeText(uint64_t bytes) {
  const float size = static_cast<float>(bytes);
  if (bytes >= (uint64_t{1} << 30)) return Printf("%.2f GB", double{size / 1073741824.0f});
  if (bytes >= (uint64_t{1} << 20)) return Printf("%.2f MB", double{size / 1048576.0f});
  if (bytes >= (uint64_t{1} << 10)) return Printf("%.2f KB", double{size / 1024.0f});
  return {};
}

std::u16string TemperatureText(uint32_t celsius) {
  if (celsius == 0) return u"N/A";
  return Decimal(celsius) + u" \u00B0C";
}

std::u16string AttributeIdText(uint8_t id) {
  return Printf("%X", unsigned{id});
}

std::u16string RawDataText(const SmartAttribute& a) {
  return Printf("%02x%02x%02x%02x%02x", unsigned{a.raw[4]}, unsigned{a.raw[3]}, unsigned{a.raw[2]},
                unsigned{a.raw[1]}, unsigned{a.raw[0]});
}

DriveTableRow DriveTableRowOf(const DriveRecord& record, int number) {
  DriveTableRow row;
  row.number = Printf("%d", number);
  row.manufacturer = ManufacturerText(record.model);
  row.model = ModelText(record.model);
  row.serialNumber = record.serialNumber;
  row.size = SizeText(record.size);
  row.temperature = TemperatureText(record.temperature);
  row.status = record.status;
  return row;
}

std::vector<AttributeTableRow> AttributeTableRows(const SmartArea& area) {
  std::vector<AttributeTableRow> rows;
  for (const SmartAttribute& a : SmartAttributes(area)) {
    rows.push_back({AttributeIdText(a.id), SmartAttributeName(a.id), Printf("%d", int{a.current}),
                    Printf("%d", int{a.worst}), Printf("%d", int{a.threshold}), RawDataText(a)});
  }
  return rows;
}

std::vector<NvmeHealthRow> NvmeHealthRows(const NvmeHealth& h) {
  const uint32_t celsius = CelsiusFromKelvin(h.temperatureKelvin);
  return {
      {u"Critical Warning", Printf("0x%02X", unsigned{h.criticalWarning})},
      {u"Temperature", TemperatureText(celsius)},
      {u"Available Spare", Decimal(h.availableSpare) + u"%"},
      {u"Available Spare Threshold", Decimal(h.availableSpareThreshold) + u"%"},
      {u"Percentage Used", Decimal(h.percentageUsed) + u"%"},
      {u"Data Units Read", Decimal(h.dataUnitsRead)},
      {u"Data Units Written", Decimal(h.dataUnitsWritten)},
      {u"Host Read Commands", Decimal(h.hostReadCommands)},
      {u"Host Write Commands", Decimal(h.hostWriteCommands)},
      {u"Controller Busy Time", Decimal(h.controllerBusyMinutes)},
      {u"Power Cycles", Decimal(h.powerCycles)},
      {u"Power On Hours", Decimal(h.powerOnHours)},
      {u"Unsafe Shutdowns", Decimal(h.unsafeShutdowns)},
      {u"Media and Data Integrity Errors", Decimal(h.mediaErrors)},
      {u"Error Information Log Entries", Decimal(h.errorLogEntries)},
  };
}

}  // namespace kavo
