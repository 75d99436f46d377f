#include "shell/cloning_wnd.h"

#include <optional>

#include "copy/copy_setup.h"
#include "platform/device.h"
#include "shell/base_wnd.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

constexpr wchar_t kInformation[] = L"Information";
constexpr COLORREF kEditGrey = RGB(165, 165, 165);
constexpr UINT kRangeControls[] = {kSourceStartLabelId, kDestinationStartLabelId, kCountLabelId,
                                   kSourceStartId,      kDestinationStartId,      kCountId};

}  // namespace

void CCloningWnd::CreateControls() {
  m_grey = CreateSolidBrush(kEditGrey);
  MakeControl(L"STATIC", L"Source Drive : ", 0, 50, 80, 120, 20, 0);
  MakeControl(L"STATIC", L"Destination Drive : ", 0, 50, 110, 120, 20, 0);
  const DWORD list = CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP;
  m_source = MakeControl(L"COMBOBOX", L"", list, 200, 80, 350, 200, kCloneSourceId);
  m_destination = MakeControl(L"COMBOBOX", L"", list, 200, 110, 350, 200, kCloneDestinationId);
  // Ticked and cleared by hand: each box also changes the other and the range controls.
  MakeControl(L"BUTTON", L"Clone entire area", BS_CHECKBOX | WS_TABSTOP, 50, 160, 150, 20,
              kCloneEntireId);
  MakeControl(L"BUTTON", L"Reverse cloning", BS_CHECKBOX | WS_TABSTOP, 250, 160, 150, 20,
              kReverseCloneId);
  MakeControl(L"STATIC", L"Source Start : ", 0, 50, 200, 150, 20, kSourceStartLabelId);
  MakeControl(L"STATIC", L"Destination Start : ", 0, 50, 230, 150, 20, kDestinationStartLabelId);
  MakeControl(L"STATIC", L"No. of sectors to copy : ", 0, 50, 260, 150, 20, kCountLabelId);
  MakeControl(L"STATIC", L"Retry attempt : ", 0, 50, 290, 150, 20, kRetryLabelId);
  const DWORD edit = WS_BORDER | ES_NUMBER | ES_AUTOHSCROLL | WS_TABSTOP;
  MakeControl(L"EDIT", L"", edit, 250, 200, 200, 20, kSourceStartId);
  MakeControl(L"EDIT", L"", edit, 250, 230, 200, 20, kDestinationStartId);
  MakeControl(L"EDIT", L"", edit, 250, 260, 200, 20, kCountId);
  MakeControl(L"BUTTON", L"2", BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP, 250, 290, 50, 20,
              kRetry2Id);
  MakeControl(L"BUTTON", L"3", BS_AUTORADIOBUTTON, 310, 290, 50, 20, kRetry3Id);
  MakeControl(L"BUTTON", L"5", BS_AUTORADIOBUTTON, 370, 290, 50, 20, kRetry5Id);
  CheckDlgButton(Handle(), kRetry2Id, BST_CHECKED);
}

void CCloningWnd::PaintTexts(HDC dc) {
  const RECT rect = ClientRect(Handle());
  const std::wstring note = Wide(kRetryNote);
  TextOutW(dc, 10, rect.bottom - 20, note.c_str(), static_cast<int>(note.size()));
}

HBRUSH CCloningWnd::ControlBrush(HWND control, HDC dc) {
  const int id = GetDlgCtrlID(control);
  if (id == kSourceStartId || id == kDestinationStartId || id == kCountId) {
    SetBkColor(dc, kEditGrey);
    return m_grey;
  }
  return CCopyPage::ControlBrush(control, dc);
}

void CCloningWnd::SetRangeEnabled(bool enabled) {
  for (const UINT id : kRangeControls) EnableWindow(GetDlgItem(Handle(), id), enabled);
  if (!enabled) {
    SetDlgItemTextW(Handle(), kSourceStartId, L"");
    SetDlgItemTextW(Handle(), kDestinationStartId, L"");
  }
}

void CCloningWnd::OnCloneEntire() {
  if (IsDlgButtonChecked(Handle(), kCloneEntireId) == BST_CHECKED) {
    CheckDlgButton(Handle(), kCloneEntireId, BST_UNCHECKED);
    m_cloneEntire = 0;
    SetRangeEnabled(true);
    return;
  }
  CheckDlgButton(Handle(), kCloneEntireId, BST_CHECKED);
  m_cloneEntire = 1;
  m_reverse = 0;
  CheckDlgButton(Handle(), kReverseCloneId, BST_UNCHECKED);
  SetRangeEnabled(false);
}

void CCloningWnd::OnReverse() {
  if (IsDlgButtonChecked(Handle(), kReverseCloneId) == BST_CHECKED) {
    CheckDlgButton(Handle(), kReverseCloneId, BST_UNCHECKED);
    m_reverse = 0;
    m_cloneEntire = 0;
    SetRangeEnabled(true);
    return;
  }
  // A reverse copy always covers the whole source.
  CheckDlgButton(Handle(), kReverseCloneId, BST_CHECKED);
  m_reverse = 1;
  m_cloneEntire = 1;
  CheckDlgButton(Handle(), kCloneEntireId, BST_UNCHECKED);
  SetRangeEnabled(false);
}

std::u16string CCloningWnd::EditText(UINT id) const {
  wchar_t text[64] = {};
  GetDlgItemTextW(Handle(), static_cast<int>(id), text, 64);
  const std::wstring t(text);
  return {t.begin(), t.end()};
}

void CCloningWnd::OnNext() {
  const auto tell = [this](const std::u16string& text, const wchar_t* caption, PromptIcon icon) {
    Ask(m_context, Wide(text).c_str(), caption, icon, PromptButtons::Ok);
  };
  int sourceIndex = -1;
  int destinationIndex = -1;
  const DriveRecord* sourceRecord = Selected(m_source, &sourceIndex);
  const DriveRecord* destinationRecord = Selected(m_destination, &destinationIndex);
  const auto chosen = [](const DriveRecord* r, int index) {
    return r != nullptr ? std::optional<int>(index) : std::nullopt;
  };
  if (const std::u16string message = CheckCloneSelection(
          chosen(sourceRecord, sourceIndex), chosen(destinationRecord, destinationIndex));
      !message.empty()) {
    tell(message, kInformation, PromptIcon::Information);
    return;
  }
  if (Ask(m_context, Wide(kConfirmCloning).c_str(), L"Confirm", PromptIcon::Question,
          PromptButtons::YesNo) != PromptAnswer::Yes) {
    return;
  }
  auto source = std::make_unique<CDiskCopy>();
  if (!source->Open(Selector(*sourceRecord), platform::OpenMode::Read)) {
    tell(kFailedToOpenSource, L"Error", PromptIcon::Error);
    return;
  }
  auto destination = std::make_unique<CDiskCopy>();
  if (!destination->Open(Selector(*destinationRecord), platform::OpenMode::ReadWrite)) {
    tell(kFailedToOpenDestination, L"Error", PromptIcon::Error);
    return;
  }
  // Two entries of the lists may still be one device: a volume and the drive it lies on.
  if (platform::SharesStorage(source->m_devicePath, destination->m_devicePath)) {
    tell(kSameSourceAndDestination, kInformation, PromptIcon::Information);
    return;
  }
  if (const std::u16string message =
          CheckCloneSectorSizes(source->m_nSectorSize, destination->m_nSectorSize);
      !message.empty()) {
    tell(message, kInformation, PromptIcon::Information);
    return;
  }
  if (m_cloneEntire == 0) {
    const CloneRange range =
        CheckCloneRange(EditText(kSourceStartId), EditText(kDestinationStartId), EditText(kCountId),
                        source->m_nTotalSectors, destination->m_nTotalSectors);
    if (!range.message.empty()) {
      tell(range.message, kInformation, PromptIcon::Information);
      return;
    }
    source->m_nStartSector = range.sourceStart;
    source->m_nEndSector = range.sourceEnd;
    destination->m_nStartSector = range.destinationStart;
  }
  // The sizes of the opened devices: what the copy reads and where it writes. A volume's record
  // gives its file system's size, which on some systems is not the size of the device behind it.
  if (const std::u16string message =
          CheckCloneSpace(source->m_nTotalSectors * source->m_nSectorSize,
                          destination->m_nTotalSectors * destination->m_nSectorSize);
      !message.empty()) {
    tell(message, kInformation, PromptIcon::Information);
    return;
  }
  m_context.router->forwardCopy = m_reverse != 0 ? 0 : 1;
  source->m_nRetryAttempts = m_retryAttempts;
  source->m_bCloning = true;
  source->m_sourceName = sourceRecord->caption;
  source->m_destinationName = destinationRecord->caption;
  const uint64_t startByte = source->m_nStartSector * source->m_nSectorSize;
  const uint64_t endByte = source->m_nEndSector * source->m_nSectorSize;
  StartCopy(std::move(source), std::move(destination), startByte, endByte);
}

LRESULT CCloningWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wParam) != BN_CLICKED) break;
      switch (LOWORD(wParam)) {
        case kCloneEntireId: OnCloneEntire(); return 0;
        case kReverseCloneId: OnReverse(); return 0;
        case kRetry2Id: m_retryAttempts = 2; return 0;
        case kRetry3Id: m_retryAttempts = 3; return 0;
        case kRetry5Id: m_retryAttempts = 5; return 0;
        default: break;
      }
      break;
    case WM_SIZE: InvalidateRect(Handle(), nullptr, TRUE); break;
    case WM_DESTROY:
      if (m_grey != nullptr) DeleteObject(m_grey);
      m_grey = nullptr;
      break;
    default: break;
  }
  return CCopyPage::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell
