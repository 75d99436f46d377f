// The format catalogue: its rows, the check-box rules of its tree, counting and registration.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "scan_support.h"
#include "scanners/catalogue.h"

namespace kavo {
namespace {

std::string Signature(const CBaseScanner& scanner) {
  return std::string(reinterpret_cast<const char*>(scanner.m_pSignature->Bytes()),
                     scanner.m_pSignature->Length());
}

TEST(Catalogue, HoldsTheFormatsOfEachCategoryInOrder) {
  const auto rows = CatalogueRows();
  ASSERT_EQ(rows.size(), 72u);
  struct Expect {
    std::u16string_view category;
    size_t count;
    std::u16string_view first, last;
  };
  const Expect expected[] = {{u"Images", 23, u"BMP", u"IIQ"},
                             {u"Audio/Video", 27, u"RA", u"MP3"},
                             {u"Docs", 20, u"PPT", u"HTML"},
                             {u"Mail", 2, u"PST", u"OST"}};
  size_t at = 0;
  for (const Expect& e : expected) {
    SCOPED_TRACE(std::string(e.category.begin(), e.category.end()));
    EXPECT_EQ(rows[at].itemText, e.first);
    EXPECT_EQ(rows[at + e.count - 1].itemText, e.last);
    for (size_t i = at; i < at + e.count; ++i) {
      EXPECT_EQ(rows[i].category, e.category);
      EXPECT_EQ(rows[i].iconExtension[0], u'.');
      EXPECT_NE(rows[i].create(), nullptr);
    }
    at += e.count;
  }
  // The RW2 row shows the icon of ".raw2", as the page always has.
  EXPECT_EQ(CatalogueRows()[12].itemText, u"RW2");
  EXPECT_EQ(CatalogueRows()[12].iconExtension, u".raw2");
}

TEST(Catalogue, TickingAndClearingKeepCategoriesAndRootInStep) {
  FormatCatalogue catalogue;
  CatalogueItem& root = catalogue.Root();
  CatalogueItem& images = *catalogue.Find(u"Images");
  CatalogueItem& mail = *catalogue.Find(u"mail");
  EXPECT_EQ(catalogue.CountSelected(), 0u);

  catalogue.Toggle(*catalogue.Find(u"JPG"));
  EXPECT_EQ(images.State(), 2);
  EXPECT_EQ(root.State(), 2);
  EXPECT_EQ(catalogue.CountSelected(), 2u);  // JPG and its partly ticked category

  catalogue.Toggle(mail);
  EXPECT_EQ(catalogue.Find(u"PST")->State(), 1);
  EXPECT_EQ(catalogue.Find(u"OST")->State(), 1);
  EXPECT_EQ(catalogue.CountSelected(), 5u);

  // Clearing the last ticked format of a category clears the category.
  catalogue.Toggle(*catalogue.Find(u"PST"));
  EXPECT_EQ(mail.State(), 2);
  catalogue.Toggle(*catalogue.Find(u"OST"));
  EXPECT_EQ(mail.State(), 0);

  // A partly ticked item is cleared by a click.
  catalogue.Toggle(images);
  EXPECT_EQ(images.State(), 0);
  EXPECT_EQ(root.State(), 0);
  EXPECT_EQ(catalogue.CountSelected(), 0u);

  catalogue.SelectAll();
  EXPECT_EQ(root.State(), 1);
  EXPECT_EQ(catalogue.CountSelected(), 76u);  // 72 formats and 4 categories
  catalogue.ClearAll();
  EXPECT_EQ(root.State(), 0);
  EXPECT_EQ(catalogue.CountSelected(), 0u);
}

struct RegistrationCase {
  std::vector<std::u16string> ticked;
  size_t scanners;
  std::u16string_view ftypOwner;  // the format whose scanner serves "ftyp", if any
};

class CatalogueRegistration : public ::testing::TestWithParam<RegistrationCase> {};

TEST_P(CatalogueRegistration, KeepsTheFirstScannerOfEachSignatureInTreeOrder) {
  const RegistrationCase& c = GetParam();
  test::MemorySource source;
  source.length = 64 * 512;
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry = BuildRegistry(c.ticked, *disk);
  ASSERT_EQ(registry.Size(), c.scanners);
  for (size_t i = 0; i < registry.Size(); ++i) {
    EXPECT_EQ(registry.At(i)->m_pDisk, disk.get());
    if (i > 0) {
      EXPECT_LT(CompareSignatures(*registry.At(i - 1)->m_pSignature, *registry.At(i)->m_pSignature),
                0);
    }
  }
  if (!c.ftypOwner.empty()) {
    std::unique_ptr<CBaseScanner> expected = CreateScanner(c.ftypOwner);
    bool found = false;
    for (size_t i = 0; i < registry.Size(); ++i) {
      if (Signature(*registry.At(i)) == "ftyp") {
        found = true;
        EXPECT_EQ(typeid(*registry.At(i)), typeid(*expected));
      }
    }
    EXPECT_TRUE(found);
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, CatalogueRegistration,
    ::testing::Values(RegistrationCase{{u"MP4", u"M4V"}, 1, u"MP4"},
                      RegistrationCase{{u"M4V", u"MP4", u"MOV"}, 1, u"MOV"},
                      RegistrationCase{{u"EIP"}, 1, {}},
                      RegistrationCase{{u"Docs"}, 9, {}},  // one scanner per class
                      // The TIFF family's RAW scanners scan beside the TIFF scanner.
                      RegistrationCase{{u"TIF", u"ORF", u"RW2", u"CRW", u"DNG"}, 3, {}},
                      RegistrationCase{{u"File Formats"}, 31, u"MOV"},
                      RegistrationCase{{u"nothing"}, 0, {}},
                      RegistrationCase{{}, 0, {}}));

TEST(Catalogue, RegistrationHandsOverTickedScannersAndDestroysTheRest) {
  FormatCatalogue catalogue;
  catalogue.Toggle(*catalogue.Find(u"PNG"));
  ScannerRegistry registry;
  catalogue.Register(registry, nullptr);
  ASSERT_EQ(registry.Size(), 1u);
  EXPECT_EQ(registry.At(0)->m_pSignature->Bytes()[0], 0x89);
  EXPECT_EQ(catalogue.Find(u"PNG")->scanner, nullptr);
  EXPECT_EQ(catalogue.Find(u"BMP")->scanner, nullptr);
  // The partly ticked root and category keep their objects.
  EXPECT_NE(catalogue.Find(u"Images")->scanner, nullptr);
  EXPECT_EQ(catalogue.Find(u"Docs")->scanner, nullptr);
}

}  // namespace
}  // namespace kavo
