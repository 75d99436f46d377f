// Measures the results page of Kavo.exe on a large tree: writes a scan-info file of NODES nodes
// (FOLDERS of them folders, two levels below "Data", the files spread over the lower level), opens
// it from the drive list as a user does, and prints how long the page takes to show its tree, to
// open a folder of folders, to show a folder of files and to mark everything.
//
//   results_fill_bench.exe [NODES [FOLDERS]]   (default 1000000 and 10000)
//
// Run under wine by bench/results_fill.sh.
#include <windows.h>

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "disk/storage.h"
#include "recovery/scan_info.h"
#include "recovery/tree.h"
#include "shell/shell_driver.h"
#include "shell/shell_test_support.h"
#include "support/recording_prompter.h"

namespace {

using Clock = std::chrono::steady_clock;


std::u16string Name(const char* prefix, uint64_t n, const char* suffix) {
  char text[48];
  std::snprintf(text, sizeof text, "%s%07llu%s", prefix, static_cast<unsigned long long>(n), suffix);
  return {text, text + std::char_traits<char>::length(text)};
}

kavo::RecoveredNode* Add(kavo::RecoveredNode* parent, std::u16string name, uint16_t flags,
                         uint64_t size) {
  kavo::NodePtr node = kavo::NewNode();
  node->nameLength = static_cast<uint8_t>(name.size());
  node->name = std::move(name);
  node->flags = flags;
  node->size = size;
  return kavo::AppendChild(parent, std::move(node));
}

uint64_t UpperFolders(uint64_t folders) {
  return std::max<uint64_t>(1, static_cast<uint64_t>(std::sqrt(folders)));
}

// "Root" -> "Data" -> upper folders -> lower folders, the files round the lower folders.
bool WriteScanInfo(const std::filesystem::path& qsv, const std::filesystem::path& image,
                   uint64_t nodes, uint64_t folders) {
  kavo::NodePtr root = kavo::NewRoot();
  kavo::RecoveredNode* data = Add(root.get(), u"Data", kavo::NF_FOLDER | kavo::NF_PRESENT, 0);
  const uint64_t upper = UpperFolders(folders);
  std::vector<kavo::RecoveredNode*> lower;
  for (uint64_t u = 0; u < upper; ++u) {
    kavo::RecoveredNode* top = Add(data, Name("DIR", u, ""), kavo::NF_FOLDER | kavo::NF_PRESENT, 0);
    for (uint64_t l = u; l < folders - upper; l += upper) {
      lower.push_back(Add(top, Name("SUB", l, ""), kavo::NF_FOLDER | kavo::NF_PRESENT, 0));
    }
  }
  if (lower.empty()) lower.push_back(data);
  const uint64_t files = nodes > folders + 2 ? nodes - folders - 2 : 0;
  for (uint64_t f = 0; f < files; ++f) {
    Add(lower[f % lower.size()], Name("FILE", f, ".JPG"), kavo::NF_PRESENT, 1000 + f % 5000);
  }
  std::ofstream(image, std::ios::binary) << std::string(1 << 20, '\0');
  kavo::ScanInfoHeader header;
  header.operation = 3;
  header.sourceKind = static_cast<uint8_t>(kavo::SourceKind::ImageFile);
  header.sourceName = image.u16string();
  header.sourceSize = 1 << 20;
  header.fileSystem = 2;
  kavo::test::RecordingPrompter prompter;
  return kavo::SaveScanInfo(qsv, header, root.get(), prompter);
}

double Seconds(Clock::time_point since) {
  return std::chrono::duration<double>(Clock::now() - since).count();
}

HWND Tree(const kavo::test::ShellDriver& kavo) {
  return kavo::test::ChildOfClass(kavo.Find(L"TAVR_CNorvelTree"), WC_TREEVIEWW);
}
HWND List(const kavo::test::ShellDriver& kavo) {
  return kavo::test::ChildOfClass(kavo.Find(L"TAVR_CNorvelList"), WC_LISTVIEWW);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  const uint64_t nodes = argc > 1 ? std::wcstoull(argv[1], nullptr, 10) : 1000000;
  const uint64_t folders = argc > 2 ? std::wcstoull(argv[2], nullptr, 10) : 10000;
  const std::filesystem::path work =
      std::filesystem::temp_directory_path() / ("kavo-fill-" + std::to_string(GetCurrentProcessId()));
  std::filesystem::create_directories(work);
  const std::filesystem::path qsv = work / "big.qsv";
  if (!WriteScanInfo(qsv, work / "source.img", nodes, folders)) {
    std::fprintf(stderr, "cannot write %ls\n", qsv.c_str());
    return 1;
  }
  const uint64_t upperCount = UpperFolders(folders);
  std::printf("tree: %llu nodes, %llu folders; scan info %llu bytes\n",
              static_cast<unsigned long long>(nodes), static_cast<unsigned long long>(folders),
              static_cast<unsigned long long>(std::filesystem::file_size(qsv)));
  int status = 1;
  {
    kavo::test::ShellDriver kavo(kavo::test::KavoProgram());
    if (!kavo.Start()) {
      std::fprintf(stderr, "Kavo.exe did not start\n");
      return 1;
    }
    kavo.Click(kavo.Control(kavo.Find(L"CHomeWnd"), 103));  // Deleted Recovery
    kavo::test::WaitUntil([&] { return IsWindowEnabled(kavo.Frame()) != 0; }, 30000);
    kavo.Click(kavo.Control(kavo.Find(L"CDriveListingCmdWnd"), 203));  // Open Scan Info
    const Clock::time_point opened = Clock::now();
    if (!kavo.AnswerFileDialog(10000, qsv.wstring())) {
      std::fprintf(stderr, "no file dialog\n");
      return 1;
    }
    const bool shown = kavo::test::WaitUntil(
        [&] {
          return Tree(kavo) != nullptr && TreeView_GetRoot(Tree(kavo)) != nullptr &&
                 FindWindowW(L"#32770", L"Norvel") == nullptr && IsWindowEnabled(kavo.Frame());
        },
        600000);
    if (!shown) {
      std::fprintf(stderr, "the results page did not show the tree within 600 s\n");
      return 1;
    }
    std::printf("file name typed, load and fill, to the tree shown: %.2f s\n", Seconds(opened));

    // Down the first folders: "Root" (open), "Data", its first folder and that one's first.
    const HWND tree = Tree(kavo);
    HTREEITEM item = TreeView_GetChild(tree, TreeView_GetRoot(tree));
    for (int level = 0; level < 2; ++level) {
      const Clock::time_point start = Clock::now();
      SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
      kavo.PressKey(tree, VK_RIGHT);  // opens the folder as a user does
      kavo.Settle();
      std::printf("open a folder of %llu folders: %.2f s\n",
                  static_cast<unsigned long long>(level == 0 ? upperCount : folders / upperCount),
                  Seconds(start));
      item = TreeView_GetChild(tree, item);
    }
    Clock::time_point start = Clock::now();
    SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
    kavo.Settle();
    const int rows = ListView_GetItemCount(List(kavo));
    std::printf("show a folder of %d files: %.2f s\n", rows, Seconds(start));

    start = Clock::now();
    const HWND markAll = kavo.Control(kavo.Find(L"CTreeListCmdWnd"), 501);
    kavo.Click(markAll);
    kavo::test::WaitUntil([&] { return !IsWindowEnabled(markAll); }, 600000);
    std::printf("mark all: %.2f s\n", Seconds(start));
    status = 0;
  }
  std::error_code ignored;
  std::filesystem::remove_all(work, ignored);
  return status;
}
