#include "scanners/catalogue.h"

#include <algorithm>

#include "scanners/bmp_scanner.h"
#include "scanners/jpeg_scanner.h"
#include "scanners/png_scanner.h"

namespace kavo {

namespace {

template <typename Scanner>
std::unique_ptr<CBaseScanner> Make() {
  return std::make_unique<Scanner>();
}

const CatalogueRow kRows[] = {
    {u"BMP", u"Images", u".bmp", &Make<CBmpScanner>},
    {u"JPG", u"Images", u".jpg", &Make<CJpegScanner>},
    {u"PNG", u"Images", u".png", &Make<CPngScanner>},
};

}  // namespace

std::span<const CatalogueRow> CatalogueRows() {
  return kRows;
}

std::vector<std::u16string> FormatItemTexts() {
  std::vector<std::u16string> texts;
  for (const CatalogueRow& row : kRows) texts.emplace_back(row.itemText);
  return texts;
}

bool IsFormatItemText(std::u16string_view itemText) {
  return std::any_of(std::begin(kRows), std::end(kRows),
                     [&](const CatalogueRow& row) { return row.itemText == itemText; });
}

std::unique_ptr<CBaseScanner> CreateScanner(std::u16string_view itemText) {
  for (const CatalogueRow& row : kRows) {
    if (row.itemText == itemText) return row.create();
  }
  return nullptr;
}

ScannerRegistry BuildRegistry(std::span<const std::u16string> itemTexts, CDisk& source) {
  ScannerRegistry registry;
  for (const CatalogueRow& row : kRows) {
    if (std::find(itemTexts.begin(), itemTexts.end(), row.itemText) != itemTexts.end()) {
      registry.Insert(row.create(), &source);
    }
  }
  return registry;
}

}  // namespace kavo
