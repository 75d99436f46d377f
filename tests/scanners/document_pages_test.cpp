// PDF documents and web pages: real files written by Ghostscript, qpdf, exiftool, LibreOffice and
// ImageMagick, and byte-exact layouts for the edge cases of their measures.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "scan_support.h"
#include "scanners/html_scanner.h"
#include "scanners/pdf_scanner.h"
#include "scanners/raw_scan.h"
#include "support/process.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes B(const std::string& s) {
  return {s.begin(), s.end()};
}

std::vector<std::unique_ptr<CBaseScanner>> Scanners() {
  std::vector<std::unique_ptr<CBaseScanner>> s;
  s.push_back(std::make_unique<CPdFormat>());
  s.push_back(std::make_unique<CHTML>());
  return s;
}

// Lays `files` between random and zero runs, on 512- and 4096-byte sectors, and expects those
// with a folder found whole and the others (folder empty) not found.
void ExpectWhole(std::vector<test::LaidFile> files) {
  for (uint32_t ss : {512u, 4096u}) {
    SCOPED_TRACE(ss);
    test::MemorySource source;
    source.sectorSize = ss;
    const auto found = test::LayAndScan(files, Scanners(), source);
    std::vector<test::LaidFile> kept;
    std::copy_if(files.begin(), files.end(), std::back_inserter(kept),
                 [](const test::LaidFile& f) { return !f.folder.empty(); });
    test::ExpectFoundWhole(kept, found);
  }
}

// A one-object PDF with a cross-reference table and `eol` after its "%%EOF"; a comment before
// the table puts `keyword` at offset `at` (when given).
Bytes Pdf(const std::string& eol = "\n", const std::string& keyword = "", size_t at = 0,
          const std::string& version = "1.4") {
  auto build = [&](size_t pad) {
    std::string s = "%PDF-" + version + "\n1 0 obj\n<< /Type /Catalog >>\nendobj\n%" +
                    std::string(pad, 'c') + "\n";
    return s + "xref\n0 2\n0000000000 65535 f \n0000000009 00000 n \ntrailer\n<< /Size 2 >>\n" +
           "startxref\n" + std::to_string(s.size()) + "\n%%EOF" + eol;
  };
  std::string s = build(0);
  // Twice: the offset after "startxref" grows with the comment.
  for (size_t pad = 0, i = 0; !keyword.empty() && i < 2; ++i) {
    s = build(pad += at - s.find(keyword));
  }
  return B(s);
}

TEST(PdfScanner, MeasuresToTheLastEofAndItsLineEnd) {
  Bytes cut = Pdf();
  cut.erase(cut.end() - 6, cut.end());  // no "%%EOF"
  Bytes noTrailer = Pdf();
  std::fill_n(std::search(noTrailer.begin(), noTrailer.end(), "trailer", "trailer" + 7), 7, 'x');
  // An update by hand with CR LF line ends but 19-byte table entries.
  Bytes updated = Pdf("\n", "xref", 2000);
  for (char c : std::string("2 0 obj\r\n<< /Title (Kavo) >>\r\nendobj\r\nxref\r\n0 1\r\n0000000000 "
                            "65535 f\n2 1\r\n0000000100 00000 n\ntrailer\r\n<< /Size 3 /Prev 80 "
                            ">>\r\nstartxref\r\n123\r\n%%EOF\r\n")) {
    updated.push_back(static_cast<uint8_t>(c));
  }
  ExpectWhole({{"lf", Pdf("\n"), u"pdf"},
               {"cut off", cut, u""},
               {"crlf", Pdf("\r\n"), u"pdf"},
               {"version 2.0", Pdf("\n", "", 0, "2.0"), u""},
               {"cr", Pdf("\r"), u"pdf"},
               {"no trailer", noTrailer, u""},
               {"no line end", Pdf(""), u"pdf"},
               {"xref straddles", Pdf("\n", "xref", 510), u"pdf"},
               {"eof straddles", Pdf("\n", "%%EOF", 1022), u"pdf"},
               {"update by hand", updated, u"pdf"}});
}

TEST(PdfScanner, KeepsAPdfThatFollowsAnotherAtItsNextSectorApart) {
  test::MemorySource source;
  source.Put(0, Pdf("\n", "%%EOF", 1024 - 6));  // ends at its sector's end
  source.Put(1024, Pdf("\r\n"));
  source.length = 8192;
  auto disk = test::OpenMemory(source);
  ScannerRegistry registry;
  registry.Insert(std::make_unique<CPdFormat>(), disk.get());
  NodePtr root = NewRoot();
  RecoveredNode* fileType = AttachFileType(root.get());
  test::RecordingSink sink;
  RawScan(*disk, 0, disk->m_nTotalSectors, registry, fileType, nullptr, sink);
  const auto found = test::FoundFiles(fileType);
  ASSERT_EQ(found.size(), 2u);
  EXPECT_EQ(found[0].size, 1024u);
  EXPECT_EQ(found[1].location, 2u);
  EXPECT_EQ(found[1].size, Pdf("\r\n").size());
}

TEST(HtmlScanner, EndsAfterTheLowerCaseClosingTagAndItsLineEnd) {
  auto page = [](size_t tagAt, const std::string& tail, const std::string& before = "") {
    std::string s = "<!DOCTYPE html>\n<html><body>" + before;
    s.resize(tagAt, 'w');
    return B(s + "</html>" + tail);
  };
  Bytes wide;
  for (uint8_t b : page(250, "\r\n")) wide.insert(wide.end(), {b, 0});
  // The text ends (a NUL) without a tag; one follows later.
  Bytes unended = B(std::string("<html><body>no end\0", 19) + std::string(600, 'x') + "</html>");
  const Bytes third = page(1124, "");  // the tag at offset 100 of the third sector
  EXPECT_EQ(third.size(), 1131u);
  ExpectWhole({{"tag in the third sector", third, u"html"},
               {"lf", page(40, "\n"), u"html"},
               {"unended", unended, u""},
               {"crlf, tag straddles", page(508, "\r\n"), u"html"},
               {"upper case tag passed over", page(700, "\n", "</HTML>"), u"html"},
               {"utf-16le, tag straddles", wide, u"html"}});
}

TEST(DocumentScanners, HonourAStopRequest) {
  test::MemorySource source;
  source.Put(0, Pdf("\n", "xref", 3000));
  source.Put(8192, B("<html>" + std::string(3000, 'w') + "</html>"));
  source.length = 16384;
  auto disk = test::OpenMemory(source);
  for (uint64_t at : {0u, 16u}) {
    std::unique_ptr<CBaseScanner> scanner = std::move(Scanners()[at == 0 ? 0 : 1]);
    ProgressRecord progress;
    scanner->m_pDisk = disk.get();
    scanner->m_pProgress = &progress;
    Bytes sector(512);
    disk->ReadSectors(sector.data(), 512, at);
    ASSERT_NE(scanner->MatchSignature(sector.data(), at, 0), 0);
    ASSERT_NE(scanner->ParseFile(sector.data()), 0);
    progress.RequestStop();
    EXPECT_EQ(scanner->ParseFile(sector.data()), 0);
    // The page scanner does not match while a stop is pending.
    EXPECT_EQ(scanner->MatchSignature(sector.data(), at, 0), at == 0 ? 1 : 0);
    EXPECT_EQ(progress.State(), PS_STOPPED);
  }
}

#ifndef _WIN32

class RealDocuments : public ::testing::Test {
 protected:
  Bytes Make(const std::string& command, const std::string& output) {
    Bytes bytes = test::MakeFile(m_dir.path(), command, output);
    EXPECT_FALSE(bytes.empty()) << command;
    return bytes;
  }
  test::ScratchDir m_dir;
};

size_t Count(const Bytes& bytes, const std::string& what) {
  size_t n = 0;
  for (auto at = bytes.begin();
       (at = std::search(at, bytes.end(), what.begin(), what.end())) != bytes.end(); ++at) {
    ++n;
  }
  return n;
}

TEST_F(RealDocuments, PdfsFromGhostscriptQpdfAndExiftoolAreFoundWhole) {
  for (const char* tool : {"gs", "qpdf", "exiftool"}) {
    if (!test::HaveTool(tool)) GTEST_SKIP() << tool << " is not installed";
  }
  const std::string gs = "gs -q -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o ";
  const Bytes page =
      Make(gs + "page.pdf -c '9 9 moveto 300 400 lineto stroke showpage'", "page.pdf");
  const Bytes pages =
      Make(gs + "pages.pdf -c '/Helvetica findfont 14 scalefont setfont 1 1 60 { 72 "
                "720 moveto 9 string cvs show ( Kavo) show showpage } for'",
           "pages.pdf");
  const Bytes linear = Make("qpdf --linearize pages.pdf linear.pdf", "linear.pdf");
  const Bytes streams = Make("qpdf --object-streams=generate pages.pdf streams.pdf", "streams.pdf");
  const Bytes both =
      Make("qpdf --linearize --object-streams=generate pages.pdf both.pdf", "both.pdf");
  const std::string exiftool = "exiftool -overwrite_original -Title=Kavo ";
  const Bytes updated = Make("cp page.pdf u.pdf && " + exiftool + "u.pdf", "u.pdf");
  const Bytes linearUpdated = Make("cp linear.pdf lu.pdf && " + exiftool + "lu.pdf", "lu.pdf");
  if (HasFailure()) return;
  // The files have the structures they stand for.
  EXPECT_EQ(Count(streams, "\nxref") + Count(both, "\nxref"), 0u);
  EXPECT_EQ(Count(linear, "%%EOF") + Count(updated, "%%EOF") + Count(linearUpdated, "%%EOF"), 7u);
  EXPECT_GT(pages.size(), 20000u);
  ExpectWhole({{"gs page", page, u"pdf"},
               {"gs 60 pages", pages, u"pdf"},
               {"linearized", linear, u"pdf"},
               {"cross-reference stream", streams, u"pdf"},
               {"linearized with object streams", both, u"pdf"},
               {"updated", updated, u"pdf"},
               {"linearized and updated", linearUpdated, u"pdf"}});
}

TEST_F(RealDocuments, LibreOfficePdfAndPagesAreFoundWhole) {
  if (!test::HaveTool("soffice") || !test::HaveTool("iconv")) {
    GTEST_SKIP() << "LibreOffice or iconv is not installed";
  }
  const Bytes pdf = Make(
      "printf 'Kavo letter\\n\\nWith two lines.\\n' > letter.txt && "
      "soffice --headless --convert-to pdf letter.txt",
      "letter.pdf");
  const Bytes html = Make("soffice --headless --convert-to html letter.txt", "letter.html");
  const Bytes wide = Make("iconv -f UTF-8 -t UTF-16LE letter.html > wide.html", "wide.html");
  if (HasFailure()) return;
  ExpectWhole({{"LibreOffice pdf", pdf, u"pdf"},
               {"LibreOffice page", html, u"html"},
               {"UTF-16LE page", wide, u"html"}});
}

#endif

}  // namespace
}  // namespace kavo
