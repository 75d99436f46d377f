// The drive-health tables and verdict from SMART data and threshold blocks laid out as an ATA
// drive returns them (512 bytes: revision, 30 slots of 12 bytes, ...), and from NVMe health logs
// laid out as the NVMe base specification gives log page 02h.
#include "health/health_tables.h"

#include <gtest/gtest.h>

#include "health/verdict.h"
#include "platform/bytes.h"

namespace kavo {
namespace {

struct Slot {
  uint8_t id, flags, current, worst;
  uint64_t raw;  // 6 bytes, least significant first
  uint8_t threshold;
};

// The attribute data and the threshold data of one drive.
struct Blocks {
  std::array<uint8_t, 512> data{};
  std::array<uint8_t, 512> thresholds{};
};

Blocks DriveAnswers(const std::vector<Slot>& slots) {
  Blocks b;
  b.data[0] = 0x10;  // revision
  b.thresholds[0] = 0x10;
  for (size_t i = 0; i < slots.size(); ++i) {
    uint8_t* s = b.data.data() + 2 + 12 * i;
    s[0] = slots[i].id;
    s[1] = slots[i].flags;
    s[2] = 0x00;  // status flags, high byte
    s[3] = slots[i].current;
    s[4] = slots[i].worst;
    for (int k = 0; k < 6; ++k) s[5 + k] = static_cast<uint8_t>(slots[i].raw >> (8 * k));
    b.thresholds[2 + 12 * i] = slots[i].id;
    b.thresholds[3 + 12 * i] = slots[i].threshold;
  }
  b.data[362] = 0x82;  // offline data collection status: outside the copied 360 bytes
  return b;
}

DriveRecord RecordOf(const Blocks& b) {
  DriveRecord r;
  r.temperature = CopySmartAttributes(b.data, r.smartArea);
  PatchSmartThresholds(b.thresholds, r.smartArea);
  return r;
}

// A desktop hard disk's answers.
const std::vector<Slot> kDesktopDisk = {
    {1, 0x2F, 200, 200, 0, 51},    {3, 0x27, 171, 170, 4416, 21},
    {5, 0x33, 200, 200, 0, 140},   {9, 0x32, 63, 63, 27183, 0},
    {190, 0x22, 62, 45, 0x26, 45}, {194, 0x22, 108, 96, 0x2D, 0},
    {197, 0x32, 200, 200, 0, 0},   {199, 0x32, 200, 200, 0x060504030201, 0},
};

TEST(SmartArea, TemperatureThresholdsAndRows) {
  const DriveRecord r = RecordOf(DriveAnswers(kDesktopDisk));
  EXPECT_EQ(r.temperature, 45u);  // ID 194 raw 2D, after ID 190's 0x26
  EXPECT_EQ(r.smartArea[362], 0);

  const std::vector<AttributeTableRow> rows = AttributeTableRows(r.smartArea);
  ASSERT_EQ(rows.size(), kDesktopDisk.size());
  const AttributeTableRow& first = rows[0];
  EXPECT_EQ(first.id, u"1");
  EXPECT_EQ(first.name, u"Raw Read Error Rate");
  EXPECT_EQ(first.current, u"200");
  EXPECT_EQ(first.threshold, u"51");  // patched into the flags' high byte
  EXPECT_EQ(rows[3].id, u"9");
  EXPECT_EQ(rows[3].name, u"Power On Hours POH");
  EXPECT_EQ(rows[3].rawData, u"0000006a2f");
  EXPECT_EQ(rows[5].id, u"C2");
  EXPECT_EQ(rows[5].worst, u"96");
  EXPECT_EQ(rows[7].rawData, u"0504030201");  // raw byte 5 not shown
  EXPECT_EQ(SmartRawValue(SmartAttributes(r.smartArea)[7]), 0x060504030201u);
}

TEST(SmartArea, OrderOfTemperatureSlotsAndTheLastSlot) {
  // ID 194 before ID 190: the later slot wins.
  EXPECT_EQ(RecordOf(DriveAnswers({{194, 0x22, 108, 96, 40, 0}, {190, 0x22, 62, 45, 38, 45}}))
                .temperature,
            38u);
  EXPECT_EQ(RecordOf(DriveAnswers({{1, 0x2F, 200, 200, 0, 51}})).temperature, 0u);

  // All 30 slots used: the last one's raw byte 5 and reserved byte lie past the 360 copied.
  std::vector<Slot> full;
  for (uint8_t i = 0; i < 30; ++i) full.push_back({uint8_t(i + 1), 0, 100, 100, 0xAA0000000001, 0});
  const DriveRecord r = RecordOf(DriveAnswers(full));
  const auto attributes = SmartAttributes(r.smartArea);
  ASSERT_EQ(attributes.size(), 30u);
  EXPECT_EQ(attributes[29].raw[5], 0);
  EXPECT_EQ(attributes[28].raw[5], 0xAA);
  EXPECT_EQ(RawDataText(attributes[29]), u"0000000001");

  // A failed attribute read leaves the area zero: thresholds land in it and no rows appear.
  DriveRecord failed;
  PatchSmartThresholds(DriveAnswers(kDesktopDisk).thresholds, failed.smartArea);
  EXPECT_TRUE(AttributeTableRows(failed.smartArea).empty());
}

TEST(SmartNames, FiftyEightNamesAndEmptyForOthers) {
  int named = 0;
  for (int id = 0; id < 256; ++id) named += *SmartAttributeName(static_cast<uint8_t>(id)) != 0;
  EXPECT_EQ(named, 58);
  EXPECT_STREQ(reinterpret_cast<const char*>(SmartAttributeName(241)),
               reinterpret_cast<const char*>(u"Tota LBAs Written"));
  EXPECT_EQ(std::u16string(SmartAttributeName(210)), u"");
  EXPECT_EQ(std::u16string(SmartAttributeName(254)), u"Free Fall Protection");
}

TEST(DriveTableText, ModelSizeAndTemperature) {
  struct {
    std::u16string model, manufacturer, shown;
  } models[] = {
      {u"WDC WD10EZEX-08WN4A0", u"WDC", u"WD10EZEX-08WN4A0"},
      {u"ST1000DM003-1CH162", u"ST1000DM003-1CH162", u"ST1000DM003-1CH162"},
      {u"Samsung SSD 860 EVO 500GB", u"Samsung", u"SSD"},  // cut at the space after character 8
      // The space right at character 8 is the cut: the maker's name is all that is left.
      {u"KINGSTON SA400S37240G", u"KINGSTON", u"KINGSTON"},
      {u"WDC WD10EZEX-08WN4A0 ATA Device", u"WDC", u"WD10EZEX-08WN4A0"},
      {u"", u"", u""},
  };
  for (const auto& m : models) {
    EXPECT_EQ(ManufacturerText(m.model), m.manufacturer);
    EXPECT_EQ(ModelText(m.model), m.shown);
  }
  struct {
    uint64_t bytes;
    std::u16string text;
  } sizes[] = {{500107862016, u"465.76 GB"},
               {1u << 30, u"1.00 GB"},
               {(1u << 30) - 1, u"1024.00 MB"},
               {1048576, u"1.00 MB"},
               {1024, u"1.00 KB"},
               {1023, u""},
               {0, u""},
               {4000787030016, u"3726.02 GB"}};
  for (const auto& s : sizes) EXPECT_EQ(SizeText(s.bytes), s.text) << s.bytes;
  EXPECT_EQ(TemperatureText(45), u"45 \u00B0C");
  EXPECT_EQ(TemperatureText(0), u"N/A");

  DriveRecord r = RecordOf(DriveAnswers(kDesktopDisk));
  r.model = u"WDC WD5000AAKX-00ERMA0";
  r.serialNumber = u"WD-WCC2EJC12345";
  r.size = 500107862016;
  r.status = u"OK";
  const DriveTableRow row = DriveTableRowOf(r, 3);
  EXPECT_EQ(row.number, u"3");
  EXPECT_EQ(row.manufacturer, u"WDC");
  EXPECT_EQ(row.model, u"WD5000AAKX-00ERMA0");
  EXPECT_EQ(row.size, u"465.76 GB");
  EXPECT_EQ(row.temperature, u"45 \u00B0C");
  EXPECT_EQ(row.status, u"OK");
}

TEST(HealthVerdict, AtaThresholdsAndPreFailureCounts) {
  struct {
    const char* what;
    std::vector<Slot> slots;
    HealthVerdict verdict;
    size_t reasons;
  } cases[] = {
      {"healthy", kDesktopDisk, HealthVerdict::Ok, 0},
      {"no data", {}, HealthVerdict::Unknown, 0},
      {"reallocated and pending",
       {{5, 0x33, 199, 199, 8, 140}, {197, 0x32, 200, 200, 2, 0}, {198, 0x30, 100, 100, 0, 0}},
       HealthVerdict::Warning,
       2},
      {"vendor bits above the count",
       {{5, 0x33, 200, 200, 0x010000000000, 140}},
       HealthVerdict::Ok,
       0},
      {"threshold crossed",
       {{5, 0x33, 140, 140, 1800, 140}, {9, 0x32, 1, 1, 0, 0}},
       HealthVerdict::Failing,
       2},
      {"threshold 0 never fails", {{9, 0x32, 0, 0, 90000, 0}}, HealthVerdict::Ok, 0},
  };
  for (const auto& c : cases) {
    const HealthAssessment a = AssessDrive(RecordOf(DriveAnswers(c.slots)));
    EXPECT_EQ(a.verdict, c.verdict) << c.what;
    EXPECT_EQ(a.reasons.size(), c.reasons) << c.what;
  }
  EXPECT_EQ(std::u16string(VerdictText(HealthVerdict::Unknown)), u"N/A");
}

std::array<uint8_t, 512> NvmeLog(uint8_t warning, uint16_t kelvin, uint8_t spare, uint8_t used,
                                 uint64_t mediaErrors) {
  std::array<uint8_t, 512> log{};
  log[0] = warning;
  StoreLe16(log.data() + 1, kelvin);
  log[3] = spare;
  log[4] = 10;
  log[5] = used;
  StoreLe64(log.data() + 32, 12345678);  // data units read
  StoreLe64(log.data() + 128, 4321);     // power-on hours
  StoreLe64(log.data() + 144, 17);       // unsafe shutdowns
  StoreLe64(log.data() + 160, mediaErrors);
  log[63] = 1;  // data units written beyond 64 bits
  return log;
}

TEST(NvmeHealth, LogFieldsRowsAndVerdict) {
  const NvmeHealth h = ParseNvmeHealthLog(NvmeLog(0, 308, 100, 3, 0));
  EXPECT_EQ(CelsiusFromKelvin(h.temperatureKelvin), 35u);
  EXPECT_EQ(h.dataUnitsRead, 12345678u);
  EXPECT_EQ(h.dataUnitsWritten, UINT64_MAX);
  EXPECT_EQ(h.powerOnHours, 4321u);
  EXPECT_EQ(h.unsafeShutdowns, 17u);
  const auto rows = NvmeHealthRows(h);
  ASSERT_EQ(rows.size(), 15u);
  EXPECT_EQ(rows[1].value, u"35 \u00B0C");
  EXPECT_EQ(rows[4].value, u"3%");
  EXPECT_EQ(rows[11].value, u"4321");
  EXPECT_EQ(CelsiusFromKelvin(0), 0u);

  struct {
    std::array<uint8_t, 512> log;
    HealthVerdict verdict;
  } cases[] = {
      {NvmeLog(0, 308, 100, 3, 0), HealthVerdict::Ok},
      {NvmeLog(0, 308, 100, 100, 0), HealthVerdict::Warning},
      {NvmeLog(0, 308, 100, 3, 2), HealthVerdict::Warning},
      {NvmeLog(0x04, 308, 100, 3, 0), HealthVerdict::Failing},
      {NvmeLog(0, 308, 5, 3, 0), HealthVerdict::Failing},  // spare below its threshold of 10
  };
  for (const auto& c : cases) {
    DriveRecord r;
    r.hasNvmeLog = true;
    r.nvmeLog = c.log;
    EXPECT_EQ(AssessDrive(r).verdict, c.verdict);
  }
}

}  // namespace
}  // namespace kavo
