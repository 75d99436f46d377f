#include "scanners/catalogue.h"

#include <algorithm>

#include "scanners/aiff_scanner.h"
#include "scanners/asf_scanner.h"
#include "scanners/au_scanner.h"
#include "scanners/avi_scanner.h"
#include "scanners/bmp_scanner.h"
#include "scanners/cab_scanner.h"
#include "scanners/chm_scanner.h"
#include "scanners/crw_scanner.h"
#include "scanners/flv_scanner.h"
#include "scanners/html_scanner.h"
#include "scanners/jpeg_scanner.h"
#include "scanners/midi_scanner.h"
#include "scanners/mov_scanner.h"
#include "scanners/mp3_scanner.h"
#include "scanners/mpeg_scanner.h"
#include "scanners/mrw_scanner.h"
#include "scanners/office_scanner.h"
#include "scanners/ogg_scanner.h"
#include "scanners/onenote_scanner.h"
#include "scanners/orf_scanner.h"
#include "scanners/pdf_scanner.h"
#include "scanners/png_scanner.h"
#include "scanners/pst_scanner.h"
#include "scanners/ra_scanner.h"
#include "scanners/raf_scanner.h"
#include "scanners/rar_scanner.h"
#include "scanners/rm_scanner.h"
#include "scanners/sevenzip_scanner.h"
#include "scanners/swf_scanner.h"
#include "scanners/tiff_scanner.h"
#include "scanners/x3f_scanner.h"
#include "scanners/zip_scanner.h"

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
    {u"TIF", u"Images", u".tif", &Make<CTiffScanner>},
    {u"TIFF", u"Images", u".tiff", &Make<CTiffScanner>},
    {u"DNG", u"Images", u".dng", &Make<CTiffScanner>},
    {u"PEF", u"Images", u".pef", &Make<CTiffScanner>},
    {u"NEF", u"Images", u".nef", &Make<CTiffScanner>},
    {u"ARW", u"Images", u".arw", &Make<CTiffScanner>},
    {u"3FR", u"Images", u".3fr", &Make<CTiffScanner>},
    {u"ORF", u"Images", u".orf", &Make<CORFScanner>},
    {u"RAW", u"Images", u".raw", &Make<CORFScanner>},
    {u"RW2", u"Images", u".raw2", &Make<CORFScanner>},
    {u"CR2", u"Images", u".cr2", &Make<CTiffScanner>},
    {u"CRW", u"Images", u".crw", &Make<CCRWScanner>},
    {u"SR2", u"Images", u".sr2", &Make<CTiffScanner>},
    {u"MEF", u"Images", u".mef", &Make<CTiffScanner>},
    {u"RICOH", u"Images", u".ricoh", &Make<CTiffScanner>},
    {u"MRW", u"Images", u".mrw", &Make<CMRWScanner>},
    {u"RAF", u"Images", u".raf", &Make<CRAFScanner>},
    {u"X3F", u"Images", u".x3f", &Make<CX3FScanner>},
    {u"EIP", u"Images", u".eip", &Make<CZipScanner>},
    {u"IIQ", u"Images", u".iiq", &Make<CTiffScanner>},
    {u"RA", u"Audio/Video", u".ra", &Make<CRAScanner>},
    {u"RAM", u"Audio/Video", u".ram", &Make<CRAScanner>},
    {u"RM", u"Audio/Video", u".rm", &Make<CRMScanner>},
    {u"WAV", u"Audio/Video", u".wav", &Make<CAVIScanner>},
    {u"MOV", u"Audio/Video", u".mov", &Make<CMOVScanner>},
    {u"AVI", u"Audio/Video", u".avi", &Make<CAVIScanner>},
    {u"ASF", u"Audio/Video", u".asf", &Make<CASFScanner>},
    {u"AIFF", u"Audio/Video", u".aiff", &Make<CAIFFScanner>},
    {u"WMA", u"Audio/Video", u".wma", &Make<CASFScanner>},
    {u"WMV", u"Audio/Video", u".wmv", &Make<CASFScanner>},
    {u"AIF", u"Audio/Video", u".aif", &Make<CAIFFScanner>},
    {u"MP4", u"Audio/Video", u".mp4", &Make<CMPEGScanner>},
    {u"M4V", u"Audio/Video", u".m4v", &Make<CMPEGScanner>},
    {u"M4A", u"Audio/Video", u".m4a", &Make<CMPEGScanner>},
    {u"3GP", u"Audio/Video", u".3gp", &Make<CMPEGScanner>},
    {u"3GPP", u"Audio/Video", u".3gpp", &Make<CMPEGScanner>},
    {u"QT", u"Audio/Video", u".qt", &Make<CMPEGScanner>},
    {u"OGG", u"Audio/Video", u".ogg", &Make<COGGScanner>},
    {u"MID", u"Audio/Video", u".mid", &Make<CMIDIScanner>},
    {u"MIDI", u"Audio/Video", u".midi", &Make<CMIDIScanner>},
    {u"AU", u"Audio/Video", u".au", &Make<CAUScanner>},
    {u"SND", u"Audio/Video", u".snd", &Make<CAUScanner>},
    {u"FLV", u"Audio/Video", u".flv", &Make<CFLVScanner>},
    {u"XVID", u"Audio/Video", u".xvid", &Make<CAVIScanner>},
    {u"DIVX", u"Audio/Video", u".divx", &Make<CAVIScanner>},
    {u"SWF", u"Audio/Video", u".swf", &Make<CSWFScanner>},
    {u"MP3", u"Audio/Video", u".mp3", &Make<CMP3Scanner>},
    {u"PPT", u"Docs", u".ppt", &Make<COfficeScan>},
    {u"DOC", u"Docs", u".doc", &Make<COfficeScan>},
    {u"XLS", u"Docs", u".xls", &Make<COfficeScan>},
    {u"VSD", u"Docs", u".vsd", &Make<COfficeScan>},
    {u"7Z", u"Docs", u".7z", &Make<C7Z>},
    {u"ONE", u"Docs", u".one", &Make<COne>},
    {u"CAB", u"Docs", u".cab", &Make<CabScanner>},
    {u"CHM", u"Docs", u".chm", &Make<CCHMScanner>},
    {u"PPTX", u"Docs", u".pptx", &Make<CZipScanner>},
    {u"DOCX", u"Docs", u".docx", &Make<CZipScanner>},
    {u"XLSX", u"Docs", u".xlsx", &Make<CZipScanner>},
    {u"ZIP", u"Docs", u".zip", &Make<CZipScanner>},
    {u"ODS", u"Docs", u".ods", &Make<CZipScanner>},
    {u"ODT", u"Docs", u".odt", &Make<CZipScanner>},
    {u"ODP", u"Docs", u".odp", &Make<CZipScanner>},
    {u"APK", u"Docs", u".apk", &Make<CZipScanner>},
    {u"JAR", u"Docs", u".jar", &Make<CZipScanner>},
    {u"PDF", u"Docs", u".pdf", &Make<CPdFormat>},
    {u"RAR", u"Docs", u".rar", &Make<CRARScanner>},
    {u"HTML", u"Docs", u".html", &Make<CHTML>},
    {u"PST", u"Mail", u".pst", &Make<Pst>},
    {u"OST", u"Mail", u".ost", &Make<Pst>},
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
