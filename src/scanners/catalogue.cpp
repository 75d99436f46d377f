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

const std::u16string_view kCategories[] = {u"Images", u"Audio/Video", u"Docs", u"Mail"};

const CatalogueRow kRows[] = {
    {u"BMP", u"Images", u".bmp", &Make<CBmpScanner>},
    {u"JPG", u"Images", u".jpg", &Make<CJpegScanner>},
    {u"PNG", u"Images", u".png", &Make<CPngScanner>},
};

char16_t Upper(char16_t c) {
  return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
}

bool SameText(std::u16string_view a, std::u16string_view b) {
  return a.size() == b.size() &&
         std::equal(a.begin(), a.end(), b.begin(),
                    [](char16_t x, char16_t y) { return Upper(x) == Upper(y); });
}

std::unique_ptr<CatalogueItem> NewItem(std::u16string_view text, std::u16string_view icon,
                                       std::unique_ptr<CBaseScanner> scanner,
                                       CatalogueItem* parent) {
  auto item = std::make_unique<CatalogueItem>();
  item->text = text;
  item->iconExtension = icon;
  item->parent = parent;
  item->scanner = std::move(scanner);
  return item;
}

void SetState(CatalogueItem& item, uint8_t state) {
  if (item.scanner) item.scanner->m_bSelected = state;
}

// Gives `item` and everything below it `state`. The tree is two levels deep below the root, but
// the walk does not rely on it.
void SetSubtree(CatalogueItem& item, uint8_t state) {
  std::vector<CatalogueItem*> pending = {&item};
  while (!pending.empty()) {
    CatalogueItem* at = pending.back();
    pending.pop_back();
    SetState(*at, state);
    for (auto& child : at->children) pending.push_back(child.get());
  }
}

// An item with children is ticked when all of them are, clear when none is, partly ticked
// otherwise.
void RecomputeAncestors(CatalogueItem* item) {
  for (; item; item = item->parent) {
    if (item->children.empty()) continue;
    bool all = true;
    bool none = true;
    for (const auto& child : item->children) {
      all = all && child->State() == 1;
      none = none && child->State() == 0;
    }
    SetState(*item, all ? 1 : none ? 0 : 2);
  }
}

template <typename Visit>
void InTreeOrder(CatalogueItem& root, Visit visit) {
  std::vector<CatalogueItem*> pending = {&root};
  while (!pending.empty()) {
    CatalogueItem* at = pending.back();
    pending.pop_back();
    visit(*at);
    for (auto it = at->children.rbegin(); it != at->children.rend(); ++it) {
      pending.push_back(it->get());
    }
  }
}

}  // namespace

std::span<const CatalogueRow> CatalogueRows() {
  return kRows;
}

std::span<const std::u16string_view> CatalogueCategories() {
  return kCategories;
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

FormatCatalogue::FormatCatalogue() {
  m_root = NewItem(kCatalogueRootText, {}, std::make_unique<CDummyScanner>(), nullptr);
  for (std::u16string_view name : kCategories) {
    auto category = NewItem(name, {}, std::make_unique<CDummyScanner>(), m_root.get());
    for (const CatalogueRow& row : kRows) {
      if (row.category != name) continue;
      category->children.push_back(
          NewItem(row.itemText, row.iconExtension, row.create(), category.get()));
    }
    m_root->children.push_back(std::move(category));
  }
}

CatalogueItem* FormatCatalogue::Find(std::u16string_view text) {
  CatalogueItem* found = nullptr;
  InTreeOrder(*m_root, [&](CatalogueItem& item) {
    if (!found && SameText(item.text, text)) found = &item;
  });
  return found;
}

void FormatCatalogue::Toggle(CatalogueItem& item) {
  SetSubtree(item, item.State() != 0 ? 0 : 1);
  RecomputeAncestors(item.parent);
}

void FormatCatalogue::Tick(CatalogueItem& item) {
  if (item.State() != 1) {
    SetSubtree(item, 1);
    RecomputeAncestors(item.parent);
  }
}

void FormatCatalogue::SelectAll() {
  for (auto& child : m_root->children) SetSubtree(*child, 1);
  RecomputeAncestors(m_root.get());
}

void FormatCatalogue::ClearAll() {
  for (auto& child : m_root->children) SetSubtree(*child, 0);
  RecomputeAncestors(m_root.get());
}

uint32_t FormatCatalogue::CountSelected() const {
  if (m_root->State() == 0) return 0;
  uint32_t count = 0;
  InTreeOrder(*m_root, [&](CatalogueItem& item) {
    if (&item != m_root.get() && item.State() != 0) ++count;
  });
  return count;
}

void FormatCatalogue::Register(ScannerRegistry& registry, CDisk* source) {
  InTreeOrder(*m_root, [&](CatalogueItem& item) {
    if (!item.scanner) return;
    if (item.State() == 0) {
      item.scanner.reset();
    } else if (item.IsFormat()) {
      registry.Insert(std::move(item.scanner), source);
    }
  });
}

ScannerRegistry BuildRegistry(std::span<const std::u16string> itemTexts, CDisk& source) {
  FormatCatalogue catalogue;
  for (const std::u16string& text : itemTexts) {
    if (CatalogueItem* item = catalogue.Find(text)) catalogue.Tick(*item);
  }
  ScannerRegistry registry;
  catalogue.Register(registry, &source);
  return registry;
}

}  // namespace kavo
