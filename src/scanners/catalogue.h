// The catalogue of formats the signature scan can look for: one row per format, in the order the
// format-selection page lists them. A new format adds a row and its scanner's file.
#pragma once

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "scanners/base_scanner.h"
#include "scanners/scanner_registry.h"

namespace kavo {

struct CatalogueRow {
  std::u16string_view itemText;       // the label, and the name a selection uses
  std::u16string_view category;       // "Images", "Audio/Video", "Docs" or "Mail"
  std::u16string_view iconExtension;  // the extension whose icon the item shows
  std::unique_ptr<CBaseScanner> (*create)();
};

// Every row, in catalogue order.
std::span<const CatalogueRow> CatalogueRows();

// The item texts of all rows, in catalogue order.
std::vector<std::u16string> FormatItemTexts();

// True when `itemText` names a row (exact, case-sensitive).
bool IsFormatItemText(std::u16string_view itemText);

// A new scanner for the row named `itemText`; null when there is none.
std::unique_ptr<CBaseScanner> CreateScanner(std::u16string_view itemText);

// A fresh registry bound to `source`, holding a scanner for every row named in `itemTexts`.
// Rows are registered in catalogue order, whatever the order of the list, so that of two rows
// with the same signature the earlier one serves the scan. Texts that name no row are ignored.
ScannerRegistry BuildRegistry(std::span<const std::u16string> itemTexts, CDisk& source);

}  // namespace kavo
