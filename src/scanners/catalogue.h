// The catalogue of formats the signature scan can look for: one row per format, in the order the
// format-selection page lists them, and the check-box tree over it that decides which scanners a
// scan registers. A new format adds a row and its scanner's file.
#pragma once

#include <cstdint>
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

inline constexpr std::u16string_view kCatalogueRootText = u"File Formats";

// Every row, in catalogue order.
std::span<const CatalogueRow> CatalogueRows();

// The category names, in catalogue order.
std::span<const std::u16string_view> CatalogueCategories();

// The item texts of all rows, in catalogue order.
std::vector<std::u16string> FormatItemTexts();

// True when `itemText` names a row (exact, case-sensitive).
bool IsFormatItemText(std::u16string_view itemText);

// A new scanner for the row named `itemText`; null when there is none.
std::unique_ptr<CBaseScanner> CreateScanner(std::u16string_view itemText);

// One item of the catalogue tree: the root, a category or a format. Its check state is its
// scanner's m_bSelected (0 clear, 1 ticked, 2 partly ticked: root and categories only).
struct CatalogueItem {
  std::u16string_view text;
  std::u16string_view iconExtension;  // empty for the root and the categories
  CatalogueItem* parent = nullptr;
  std::vector<std::unique_ptr<CatalogueItem>> children;
  // A CDummyScanner for the root and the categories. Null once registration has handed the
  // scanner to a registry or destroyed it.
  std::unique_ptr<CBaseScanner> scanner;

  bool IsFormat() const { return !iconExtension.empty(); }
  uint8_t State() const { return scanner ? scanner->m_bSelected : 0; }
};

// The format-selection tree: "File Formats", its categories and their formats in catalogue order,
// each item with a scanner object of its own, all unselected. The page's tree control shows it.
class FormatCatalogue {
 public:
  FormatCatalogue();

  CatalogueItem& Root() { return *m_root; }
  const CatalogueItem& Root() const { return *m_root; }

  // The item whose text is `text` (case-insensitive; the root, a category or a format); null when
  // none has it.
  CatalogueItem* Find(std::u16string_view text);

  // A click on the item's check box: a ticked or partly ticked item is cleared, a clear one
  // ticked; its descendants take the same state and its ancestors are recomputed.
  void Toggle(CatalogueItem& item);
  // Ticks `item` (and all below it) unless it is ticked already.
  void Tick(CatalogueItem& item);
  // "Mark All" and "Unmark All": every item below the root, then the root recomputed.
  void SelectAll();
  void ClearAll();

  // The number of ticked and partly ticked items below the root (categories count too); 0 exactly
  // when no format is ticked.
  uint32_t CountSelected() const;

  // Registration as the page does it when it closes, in tree order: every ticked format's
  // scanner moves into `registry` bound to `source` (of two with the same signature the first in
  // tree order is kept), every unselected item's scanner is destroyed.
  void Register(ScannerRegistry& registry, CDisk* source);

 private:
  std::unique_ptr<CatalogueItem> m_root;
};

// A fresh registry bound to `source`, as the page registers it after the items named in
// `itemTexts` (format item texts, category names or the root's text) were ticked. Texts that
// name no item are ignored.
ScannerRegistry BuildRegistry(std::span<const std::u16string> itemTexts, CDisk& source);

}  // namespace kavo
