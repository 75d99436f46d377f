#include "shell/results_wnd.h"

// clang-format off
#include <windows.h>
#include <shlobj.h>
#include <shobjidl.h>
// clang-format on

#include <cwchar>
#include <filesystem>
#include <memory>

#include "base/messages.h"
#include "platform/device.h"
#include "recovery/extract.h"
#include "recovery/save.h"
#include "shell/base_wnd.h"
#include "shell/controls.h"
#include "shell/page_helpers.h"
#include "shell/tree_preparing_dlg.h"
#include "shell/tree_selection_wnd.h"

namespace kavo::shell {

namespace {

HWND Router(const ShellContext& context) {
  return context.router != nullptr ? context.router->Handle() : nullptr;
}

}  // namespace

// ---- CTreeListWnd ----

void CTreeListWnd::OnCreated() {
  auto tree = std::make_unique<TAVR_CNorvelTree>(m_context);
  auto list = std::make_unique<TAVR_CNorvelList>(m_context);
  m_tree = tree.get();
  m_list = list.get();
  if (!m_splitter.Create(Handle(), L"TAVR_CExtndSplitterWnd",
                         WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, ClientRect(Handle())) ||
      !m_splitter.CreatePanes(std::move(tree), L"TAVR_CNorvelTree", std::move(list),
                              L"TAVR_CNorvelList")) {
    m_tree = nullptr;
    m_list = nullptr;
    return;
  }
  m_tree->SetList(m_list);
  m_list->SetTree(m_tree);
  // Filled once the router has put the page's bars in place.
  PostMessageW(m_tree->Handle(), kFillTree, 0, 0);
}

namespace {

// Passes the save's progress to the wait dialog and its Cancel to the save.
class SaveProgress final : public MessageSink {
 public:
  SaveProgress(TAVR_TreePreparingDlg& dialog, ProgressRecord& record)
      : m_dialog(dialog), m_record(record) {}
  intptr_t Send(uint32_t message, uintptr_t, intptr_t) override {
    if (m_dialog.AbortRequested()) m_record.RequestStop();
    if (message == UM_PROGRESS && m_record.End() > 0) {
      m_dialog.SetPosition(static_cast<int>(m_record.Position() * 100 / m_record.End()));
    }
    return 0;
  }

 private:
  TAVR_TreePreparingDlg& m_dialog;
  ProgressRecord& m_record;
};

constexpr wchar_t kPickerTitle[] = L"Select the folder to save the marked files in";

// What the folder picker gave: a folder, nothing because the user cancelled, or nothing usable.
struct PickedFolder {
  std::wstring path;
  bool cancelled = false;
};

// The system's folder picker (with its New Folder button); the older folder browser where the
// picker is missing.
PickedFolder ChooseFolder(HWND owner) {
  PickedFolder picked;
  IFileOpenDialog* dialog = nullptr;
  if (SUCCEEDED(CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER,
                                 IID_PPV_ARGS(&dialog)))) {
    FILEOPENDIALOGOPTIONS options = 0;
    dialog->GetOptions(&options);
    dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM | FOS_PATHMUSTEXIST);
    dialog->SetTitle(kPickerTitle);
    const HRESULT shown = dialog->Show(owner);
    picked.cancelled = shown == HRESULT_FROM_WIN32(ERROR_CANCELLED);
    IShellItem* item = nullptr;
    if (SUCCEEDED(shown) && SUCCEEDED(dialog->GetResult(&item))) {
      wchar_t* path = nullptr;
      if (SUCCEEDED(item->GetDisplayName(SIGDN_FILESYSPATH, &path))) {
        picked.path = path;
        CoTaskMemFree(path);
      }
      item->Release();
    }
    dialog->Release();
    return picked;
  }
  BROWSEINFOW browse{};
  browse.hwndOwner = owner;
  browse.lpszTitle = kPickerTitle;
  browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE | BIF_EDITBOX | BIF_VALIDATE;
  PIDLIST_ABSOLUTE list = SHBrowseForFolderW(&browse);
  if (list == nullptr) {
    picked.cancelled = true;
    return picked;
  }
  wchar_t path[MAX_PATH] = {};
  if (SHGetPathFromIDListW(list, path)) picked.path = path;
  CoTaskMemFree(list);
  return picked;
}

}  // namespace

void CTreeListWnd::SaveMarkedFiles() {
  const RecoveredNode* root = m_context.session.treeRoot.get();
  TreeTotals totals;
  if (root != nullptr) CountMarked(root, totals);
  if (root == nullptr || (totals.markedFiles == 0 && totals.markedFolders == 0)) {
    Inform(m_context, L"Please mark the files and folders to save.");
    return;
  }
  if (!m_context.session.currentSource) {
    Ask(m_context, L"The source of these results is not open.", L"Error", PromptIcon::Error,
        PromptButtons::Ok);
    return;
  }
  const PickedFolder picked = ChooseFolder(m_context.frame);
  if (picked.cancelled) return;
  const std::wstring& folder = picked.path;
  std::error_code error;
  if (folder.empty() || !std::filesystem::is_directory(std::filesystem::path(folder), error)) {
    Ask(m_context,
        L"Nothing was saved: the chosen place is not a folder that files can be saved in. Please "
        L"choose a folder on a drive of this computer.",
        L"Warning", PromptIcon::Warning, PromptButtons::Ok);
    return;
  }
  CDisk& source = *m_context.session.currentSource;
  // Every file written onto the storage being recovered may land on clusters that still hold
  // the lost data.
  if (platform::SharesStorage(source.m_devicePath, Utf16(folder))) {
    Ask(m_context,
        L"The selected folder is on the drive being recovered. Saving there can overwrite the "
        L"files being recovered. Please choose a folder on another drive.",
        L"Warning", PromptIcon::Warning, PromptButtons::Ok);
    return;
  }
  ProgressRecord record;
  record.SetState(PS_RUNNING);
  record.SetEnd(totals.markedBytes);
  Extractor extractor(source, &record, m_context.prompter);
  TAVR_TreePreparingDlg dialog(
      [&](TAVR_TreePreparingDlg& d) {
        d.SetText(L"Saving the marked files...");
        SaveProgress progress(d, record);
        SaveMarked(extractor, root, std::filesystem::path(folder), progress);
        return true;
      },
      true);
  const bool stopped = dialog.Run(m_context.frame) == kDlgTerminated;
  const SaveCounts& c = extractor.Counts();
  wchar_t text[256];
  swprintf(text, 256, L"%ls%llu files, %llu folders, %llu bytes saved, %llu errors.",
           stopped ? L"Saving was stopped. " : L"", static_cast<unsigned long long>(c.files),
           static_cast<unsigned long long>(c.folders), static_cast<unsigned long long>(c.bytes),
           static_cast<unsigned long long>(c.errors));
  const bool clean = !stopped && !extractor.Aborted() && c.errors == 0;
  Ask(m_context, text, clean ? L"Success" : L"Warning",
      clean ? PromptIcon::Information : PromptIcon::Warning, PromptButtons::Ok);
}

LRESULT CTreeListWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case kMarkAllNodes:
      if (m_tree != nullptr) m_tree->MarkAll();
      return 0;
    case kUnmarkAllNodes:
      if (m_tree != nullptr) m_tree->UnmarkAll();
      return 0;
    case kStartSearch:
      return m_tree != nullptr ? SendMessageW(m_tree->Handle(), kRunSearch, wParam, lParam) : 0;
    case kShowAllMatches:
      return m_tree != nullptr ? SendMessageW(m_tree->Handle(), kListAllMatches, wParam, lParam)
                               : 0;
    case UM_VIEWER_NOTICE:
      return m_list != nullptr ? SendMessageW(m_list->Handle(), kNextFile, 0, 0) : 0;
    case WM_SIZE:
      MoveWindow(m_splitter.Handle(), 0, 0, LOWORD(lParam), HIWORD(lParam), TRUE);
      return 0;
    default: return Window::OnMessage(message, wParam, lParam);
  }
}

// ---- CTreeListCmdWnd ----

void CTreeListCmdWnd::OnCreated() {
  const HWND edit = CreateWindowExW(WS_EX_CLIENTEDGE, L"EDIT", kSearchPlaceholder,
                                    WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL, 8, 4, 200, 22, Handle(),
                                    reinterpret_cast<HMENU>(kResultsSearchText), nullptr, nullptr);
  SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), 0);
  CreateNorvelButton(Handle(), L"Find", kCommandBarFind, 214, 3, 90, 24);
  CreateNorvelButton(Handle(), L"Mark All", kResultsMarkAll, 310, 3, 110, 24);
  CreateNorvelButton(Handle(), L"Unmark All", kResultsUnmarkAll, 426, 3, 110, 24);
  CreateNorvelButton(Handle(), L"Show all", kResultsShowAll, 542, 3, 90, 24);
}

std::wstring CTreeListCmdWnd::SearchText() {
  wchar_t buffer[512] = {};
  GetDlgItemTextW(Handle(), kResultsSearchText, buffer, 512);
  std::wstring text = buffer;
  if (text.empty() || text == kSearchPlaceholder) {
    Inform(m_context, L"Please enter an extension.");
    return {};
  }
  text = Upper(text);
  const size_t first = text.find_first_not_of(L" \t");
  const size_t last = text.find_last_not_of(L" \t");
  text = first == std::wstring::npos ? std::wstring() : text.substr(first, last - first + 1);
  if (const size_t star = text.find(L'*'); star != std::wstring::npos) {
    text = text.substr(star + 1);
  }
  if (text.empty()) Inform(m_context, L"Please enter an extension.");
  return text;
}

void CTreeListCmdWnd::Find() {
  const std::wstring text = SearchText();
  const HWND page = CurrentPageWindow(m_context);
  if (!text.empty() && page != nullptr) {
    SendMessageW(page, kStartSearch, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

void CTreeListCmdWnd::ShowAll() {
  const std::wstring text = SearchText();
  const HWND page = CurrentPageWindow(m_context);
  if (!text.empty() && page != nullptr) {
    SendMessageW(page, kShowAllMatches, 0, reinterpret_cast<LPARAM>(text.c_str()));
  }
}

LRESULT CTreeListCmdWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const auto drawn = DrawBar(Handle(), message, wParam, lParam)) return *drawn;
  switch (message) {
    case WM_COMMAND: {
      const UINT id = LOWORD(wParam);
      if (id == kResultsSearchText && HIWORD(wParam) == EN_SETFOCUS) {
        wchar_t buffer[64] = {};
        GetDlgItemTextW(Handle(), kResultsSearchText, buffer, 64);
        if (std::wstring(buffer) == kSearchPlaceholder) {
          SetDlgItemTextW(Handle(), kResultsSearchText, L"");
        }
        return 0;
      }
      if (HIWORD(wParam) != BN_CLICKED) return 0;
      const HWND page = CurrentPageWindow(m_context);
      if (id == kCommandBarFind) Find();
      if (id == kResultsShowAll) ShowAll();
      if (page != nullptr && id == kResultsMarkAll) SendMessageW(page, kMarkAllNodes, 0, 0);
      if (page != nullptr && id == kResultsUnmarkAll) SendMessageW(page, kUnmarkAllNodes, 0, 0);
      return 0;
    }
    case kMarksChanged:
      EnableWindow(GetDlgItem(Handle(), kResultsMarkAll), wParam != 1);
      EnableWindow(GetDlgItem(Handle(), kResultsUnmarkAll), wParam != 0);
      return 0;
    case kFindCaption: {
      const HWND find = GetDlgItem(Handle(), kCommandBarFind);
      SetWindowTextW(find, wParam != 0 ? L"Find Next" : L"Find");
      InvalidateRect(find, nullptr, FALSE);
      return 0;
    }
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

// ---- CTreeListSBar ----

void CTreeListSBar::OnNext() {
  AskToSaveScanInfo();
  if (auto* page = dynamic_cast<CTreeListWnd*>(Window::FromHandle(CurrentPageWindow(m_context)))) {
    page->SaveMarkedFiles();
  }
}

void CTreeListSBar::OnBack() {
  AskToSaveScanInfo();
  // The page goes first: its panes point into the tree.
  const HWND router = Router(m_context);
  NodePtr tree = std::move(m_context.session.treeRoot);
  if (router != nullptr) SendMessageW(router, UM_RESULTS_BACK, 0, 0);
  if (tree) FreeChildren(tree.get());
}

void CTreeListSBar::AskToSaveScanInfo() {
  if (Ask(m_context, kSaveScanQuestion, L"Information", PromptIcon::Information,
          PromptButtons::YesNo) == PromptAnswer::Yes) {
    SendMessageW(m_context.frame, UM_SAVE_SCAN, 0, 0);
  }
}

}  // namespace kavo::shell
