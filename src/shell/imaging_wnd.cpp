#include "shell/imaging_wnd.h"

#include <commdlg.h>

#include "copy/copy_setup.h"
#include "platform/device.h"
#include "shell/base_wnd.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

constexpr wchar_t kInformation[] = L"Information";

}  // namespace

void CImagingWnd::CreateControls() {
  MakeControl(L"STATIC", L"Source Drive : ", 0, 50, 150, 120, 20, 0);
  MakeControl(L"STATIC", L"Destination Path : ", 0, 50, 200, 120, 20, 0);
  m_source = MakeControl(L"COMBOBOX", L"", CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 200, 150,
                         400, 200, kImagingSourceId);
  m_path = MakeControl(L"EDIT", L"", WS_BORDER | ES_AUTOHSCROLL | WS_TABSTOP, 200, 200, 350, 20,
                       kImagingPathId);
  MakeControl(L"BUTTON", L"...", BS_PUSHBUTTON | WS_TABSTOP, 570, 200, 30, 20, kImagingBrowseId);
}

void CImagingWnd::Browse() {
  std::wstring file(32768, L'\0');
  file.replace(0, 5, L"*.img");
  OPENFILENAMEW ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = Handle();
  ofn.lpstrFile = file.data();
  ofn.nMaxFile = static_cast<DWORD>(file.size());
  // A new image file is the usual choice, so the name need not exist; one that does is
  // overwritten only when the user agrees.
  ofn.Flags =
      OFN_EXPLORER | OFN_HIDEREADONLY | OFN_PATHMUSTEXIST | OFN_OVERWRITEPROMPT | OFN_NOCHANGEDIR;
  if (!GetSaveFileNameW(&ofn)) return;
  const std::u16string path = ImagePathWithExtension(Utf16(file.c_str()));
  SetWindowTextW(m_path, Wide(path).c_str());
}

void CImagingWnd::OnNext() {
  const DriveRecord* record = Selected(m_source);
  const int length = GetWindowTextLengthW(m_path);
  std::wstring typed(static_cast<size_t>(length) + 1, L'\0');
  GetWindowTextW(m_path, typed.data(), length + 1);
  const std::u16string path = Utf16(typed.c_str());
  if (const std::u16string message = CheckImageSelection(record != nullptr, path);
      !message.empty()) {
    Ask(m_context, Wide(message).c_str(), kInformation, PromptIcon::Information, PromptButtons::Ok);
    return;
  }
  // The source is opened (for reading only) before anything is asked, so that the room needed
  // is the size the copy writes: a volume's record gives its file system's size, which on some
  // systems is not the size of the device behind it.
  auto source = std::make_unique<CDiskCopy>();
  const bool opened = source->Open(Selector(*record), platform::OpenMode::Read);
  const uint64_t sourceBytes =
      opened ? source->m_nTotalSectors * source->m_nSectorSize : record->size;
  if (const std::u16string message =
          CheckImageSpace(sourceBytes, ImageRoom(std::filesystem::path(path)).value_or(0));
      !message.empty()) {
    Ask(m_context, Wide(message).c_str(), kInformation, PromptIcon::Information, PromptButtons::Ok);
    return;
  }
  // An image laid on the source itself would overwrite what it copies.
  if (opened && platform::SharesStorage(source->m_devicePath, path)) {
    Ask(m_context, Wide(kSameSourceAndDestination).c_str(), kInformation, PromptIcon::Information,
        PromptButtons::Ok);
    return;
  }
  if (Ask(m_context, Wide(kConfirmImaging).c_str(), L"Confirm", PromptIcon::Question,
          PromptButtons::YesNo) != PromptAnswer::Yes) {
    return;
  }
  if (!opened) {
    Ask(m_context, Wide(kFailedToOpenDisk).c_str(), L"Error", PromptIcon::Error, PromptButtons::Ok);
    return;
  }
  // An image with its map beside it can go on where its last run stopped.
  const std::filesystem::path mapPath = DefaultMapPath(std::filesystem::path(path));
  bool resume = false;
  if (platform::ClassifyPath(path) == platform::PathKind::RegularFile &&
      platform::ClassifyPath(mapPath.u16string()) == platform::PathKind::RegularFile) {
    const PromptAnswer answer = Ask(m_context, Wide(kContinueImage).c_str(), L"Confirm",
                                    PromptIcon::Question, PromptButtons::YesNoCancel);
    if (answer == PromptAnswer::Cancel) return;
    resume = answer == PromptAnswer::Yes;
    if (resume && !source->LoadMap(mapPath).empty()) {
      Ask(m_context, Wide(kMapDoesNotFit).c_str(), kInformation, PromptIcon::Information,
          PromptButtons::Ok);
      return;
    }
  }
  source->m_mapFile = mapPath;
  // Only now is the image file made (an existing one is truncated unless it is continued): the
  // source is known good.
  auto destination = std::make_unique<CDiskCopy>();
  if (!destination->OpenImage(path,
                              resume ? platform::OpenMode::ReadWrite : platform::OpenMode::Create,
                              source->m_nSectorSize)) {
    Ask(m_context, Wide(kFailedToOpenDestination).c_str(), L"Error", PromptIcon::Error,
        PromptButtons::Ok);
    return;
  }
  source->m_nStartSector = 0;
  source->m_nEndSector = source->m_nTotalSectors;
  source->m_sourceName = m_sourceName.empty() ? record->caption : m_sourceName;
  source->m_destinationName = path;
  source->m_bCloning = false;
  m_context.router->forwardCopy = 1;  // an image is always written forwards
  const uint64_t endByte = source->m_nEndSector * source->m_nSectorSize;
  StartCopy(std::move(source), std::move(destination), 0, endByte);
}

LRESULT CImagingWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND) {
    if (LOWORD(wParam) == kImagingBrowseId && HIWORD(wParam) == BN_CLICKED) {
      Browse();
      return 0;
    }
    if (LOWORD(wParam) == kImagingSourceId && HIWORD(wParam) == CBN_SELCHANGE) {
      if (const DriveRecord* record = Selected(m_source)) m_sourceName = record->caption;
      return 0;
    }
  }
  return CCopyPage::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell
