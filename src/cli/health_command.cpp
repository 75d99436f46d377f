// kavo-cli health: the drive table of the drive-health page with a verdict per drive, and each
// drive's SMART attribute table (or an NVMe drive's health log).
#include "cli/commands.h"
#include "cli/output.h"
#include "disk/drive_records.h"
#include "health/health_tables.h"
#include "health/verdict.h"
#include "platform/text.h"

namespace kavo::cli {

namespace {

std::string U8(std::u16string_view text) {
  return platform::Utf16ToUtf8(text);
}

// Pads by characters, not bytes ("°" is two bytes).
std::string Pad(std::u16string_view text, size_t width) {
  std::string out = U8(text);
  out.append(text.size() + 2 <= width ? width - text.size() : 2, ' ');
  return out;
}

std::string JsonList(const std::vector<std::string>& items) {
  std::string out = "[";
  for (size_t i = 0; i < items.size(); ++i) out += (i ? "," : "") + items[i];
  return out + "]";
}

std::string DriveJson(const DriveRecord& r, const DriveTableRow& row,
                      const HealthAssessment& health) {
  JsonObject device;
  device.Add("name", r.name).Add("index", r.driveIndex).Add("interface", r.interfaceType);
  JsonObject capacity;
  capacity.Add("bytes", r.size).Add("text", row.size);
  std::vector<std::string> reasons;
  for (const auto& reason : health.reasons) reasons.push_back(JsonString(reason));
  JsonObject verdict;
  verdict.Add("verdict", VerdictText(health.verdict)).AddRaw("reasons", JsonList(reasons));
  JsonObject o;
  o.AddRaw("device", device.Str())
      .Add("model_name", r.model)
      .Add("manufacturer", row.manufacturer)
      .Add("model", row.model)
      .Add("serial_number", r.serialNumber)
      .AddRaw("user_capacity", capacity.Str())
      .AddRaw("temperature",
              r.temperature != 0 ? JsonObject().Add("current", r.temperature).Str() : "null")
      .Add("status", r.status)
      .AddRaw("health", verdict.Str());
  if (health.verdict != HealthVerdict::Unknown) {
    o.AddRaw("smart_status",
             JsonObject().AddBool("passed", health.verdict != HealthVerdict::Failing).Str());
  }
  if (r.hasNvmeLog) {
    const NvmeHealth h = ParseNvmeHealthLog(r.nvmeLog);
    JsonObject log;
    log.Add("critical_warning", unsigned{h.criticalWarning})
        .Add("temperature", CelsiusFromKelvin(h.temperatureKelvin))
        .Add("available_spare", unsigned{h.availableSpare})
        .Add("available_spare_threshold", unsigned{h.availableSpareThreshold})
        .Add("percentage_used", unsigned{h.percentageUsed})
        .Add("data_units_read", h.dataUnitsRead)
        .Add("data_units_written", h.dataUnitsWritten)
        .Add("host_reads", h.hostReadCommands)
        .Add("host_writes", h.hostWriteCommands)
        .Add("controller_busy_time", h.controllerBusyMinutes)
        .Add("power_cycles", h.powerCycles)
        .Add("power_on_hours", h.powerOnHours)
        .Add("unsafe_shutdowns", h.unsafeShutdowns)
        .Add("media_errors", h.mediaErrors)
        .Add("num_err_log_entries", h.errorLogEntries);
    o.AddRaw("nvme_smart_health_information_log", log.Str());
  } else {
    std::vector<std::string> table;
    for (const SmartAttribute& a : SmartAttributes(r.smartArea)) {
      JsonObject raw;
      raw.Add("value", SmartRawValue(a)).Add("string", RawDataText(a));
      JsonObject entry;
      entry.Add("id", unsigned{a.id})
          .Add("name", SmartAttributeName(a.id))
          .Add("value", unsigned{a.current})
          .Add("worst", unsigned{a.worst})
          .Add("thresh", unsigned{a.threshold})
          .AddRaw("flags", JsonObject().Add("value", unsigned{a.flags}).Str())
          .AddRaw("raw", raw.Str());
      table.push_back(entry.Str());
    }
    o.AddRaw("ata_smart_attributes", JsonObject().AddRaw("table", JsonList(table)).Str());
  }
  return o.Str();
}

std::string AttributeText(const DriveRecord& r) {
  std::string out;
  if (r.hasNvmeLog) {
    for (const NvmeHealthRow& row : NvmeHealthRows(ParseNvmeHealthLog(r.nvmeLog))) {
      out += "  " + Pad(row.name, 34) + U8(row.value) + "\n";
    }
    return out;
  }
  const std::vector<AttributeTableRow> rows = AttributeTableRows(r.smartArea);
  if (rows.empty()) return "  SMART: N/A\n";
  const size_t widths[] = {5, 33, 15, 8, 11, 12};
  out += "  ";
  for (size_t c = 0; c < kAttributeTableColumns.size(); ++c) {
    out += Pad(kAttributeTableColumns[c].header, widths[c]);
  }
  out += "\n";
  for (const AttributeTableRow& row : rows) {
    out += "  " + Pad(row.id, widths[0]) + Pad(row.name, widths[1]) + Pad(row.current, widths[2]) +
           Pad(row.worst, widths[3]) + Pad(row.threshold, widths[4]) + U8(row.rawData) + "\n";
  }
  return out;
}

}  // namespace

int HealthCommand(const ParsedArgs& args) {
  const bool json = args.Has("--json");
  DriveRecords records;
  platform::SystemNotices notices;
  EnumerateDriveRecords(records, true, notices);
  TellNotices(notices);
  std::vector<const DriveRecord*> chosen;
  const std::optional<std::u16string> wanted =
      args.positional.empty() ? std::nullopt : std::optional(args.positional[0]);
  for (const DriveRecordPtr& r : records.physical) {
    const auto number = wanted ? ParseUnsigned(*wanted) : std::nullopt;
    if (!wanted || *wanted == r->name || (number && *number == r->driveIndex)) {
      chosen.push_back(r.get());
    }
  }
  if (wanted && chosen.empty()) {
    ErrorLine("there is no physical drive " + U8(*wanted) + "; 'kavo-cli health' lists them");
    return kExitFailed;
  }
  std::string out;
  const size_t widths[] = {5, 16, 22, 22, 12, 13, 9, 10};
  if (!json) {
    out += Pad(u"Drive", 14);
    for (size_t c = 0; c < kDriveTableColumns.size(); ++c) {
      out += Pad(kDriveTableColumns[c].header, widths[c]);
    }
    out += "Health\n";
  }
  std::vector<std::string> details;
  int number = 0;
  for (const DriveRecord* r : chosen) {
    const DriveTableRow row = DriveTableRowOf(*r, number++);
    const HealthAssessment health = AssessDrive(*r);
    if (json) {
      out += DriveJson(*r, row, health) + "\n";
      continue;
    }
    out += Pad(r->name, 14) + Pad(row.number, widths[0]) + Pad(row.manufacturer, widths[1]) +
           Pad(row.model, widths[2]) + Pad(row.serialNumber, widths[3]) + Pad(row.size, widths[4]) +
           Pad(row.temperature, widths[5]) + Pad(row.status, widths[6]) +
           U8(VerdictText(health.verdict)) + "\n";
    std::string detail =
        "\n" + U8(r->name) + " (" + U8(r->model) + "): " + U8(VerdictText(health.verdict)) + "\n";
    for (const auto& reason : health.reasons) detail += "  " + U8(reason) + "\n";
    detail += AttributeText(*r);
    details.push_back(detail);
  }
  for (const std::string& d : details) out += d;
  Out(out);
  return kExitOk;
}

}  // namespace kavo::cli
