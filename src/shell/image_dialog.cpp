#include "shell/image_dialog.h"

#include <string>
#include <vector>

#include "shell/shell_context.h"

namespace kavo::shell {

namespace {

constexpr wchar_t kQuestion[] =
    L"Which option do you want to choose for Image processing ? If you are not getting lost "
    L"volumes/partitions in quick scan or long scan, Please go for RawScan.";

constexpr WORD kButtonClass = 0x0080;
constexpr WORD kStaticClass = 0x0082;

// A dialog template laid out in memory: the header, then each item DWORD-aligned.
class DialogTemplate {
 public:
  DialogTemplate(const wchar_t* title, short width, short height, WORD items) {
    DLGTEMPLATE header{};
    header.style = DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU;
    header.cdit = items;
    header.cx = width;
    header.cy = height;
    Append(&header, sizeof header);
    Word(0);  // no menu
    Word(0);  // the dialog class
    Text(title);
    Word(9);  // point size of the font
    Text(L"MS Shell Dlg");
  }

  void Item(WORD classAtom, const wchar_t* text, WORD id, DWORD style, short x, short y,
            short width, short height) {
    Align();
    DLGITEMTEMPLATE item{};
    item.style = style | WS_CHILD | WS_VISIBLE;
    item.x = x;
    item.y = y;
    item.cx = width;
    item.cy = height;
    item.id = id;
    Append(&item, sizeof item);
    Word(0xFFFF);
    Word(classAtom);
    Text(text);
    Word(0);  // no creation data
  }

  const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(m_words.data()); }

 private:
  void Append(const void* data, size_t bytes) {
    const auto* words = static_cast<const WORD*>(data);
    m_words.insert(m_words.end(), words, words + bytes / sizeof(WORD));
  }
  void Word(WORD w) { m_words.push_back(w); }
  void Text(const wchar_t* text) {
    for (; *text != L'\0'; ++text) Word(static_cast<WORD>(*text));
    Word(0);
  }
  void Align() {
    if (m_words.size() % 2 != 0) Word(0);
  }

  std::vector<WORD> m_words;
};

UINT IdOf(ImageScanType type) {
  switch (type) {
    case ImageScanType::QuickScan: return CImageDialog::kQuickScanId;
    case ImageScanType::RawScan: return CImageDialog::kRawScanId;
    case ImageScanType::LongScan: break;
  }
  return CImageDialog::kLongScanId;
}

}  // namespace

bool CImageDialog::Run(HWND owner) {
  DialogTemplate dialog(kProgramName, 250, 112, 5);
  dialog.Item(kStaticClass, kQuestion, 0xFFFF, SS_LEFT, 10, 8, 230, 36);
  dialog.Item(kButtonClass, L"Quick Scan", kQuickScanId, BS_AUTORADIOBUTTON | WS_GROUP | WS_TABSTOP,
              24, 48, 200, 12);
  dialog.Item(kButtonClass, L"Long Scan (Recommended)", kLongScanId, BS_AUTORADIOBUTTON, 24, 62,
              200, 12);
  dialog.Item(kButtonClass, L"Raw Scan", kRawScanId, BS_AUTORADIOBUTTON, 24, 76, 200, 12);
  dialog.Item(kButtonClass, L"Ok", IDOK, BS_DEFPUSHBUTTON | WS_GROUP | WS_TABSTOP, 95, 92, 60, 15);
  return DialogBoxIndirectParamW(GetModuleHandleW(nullptr), dialog.Get(), owner, &Procedure,
                                 reinterpret_cast<LPARAM>(this)) == IDOK;
}

INT_PTR CALLBACK CImageDialog::Procedure(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
  auto* self = reinterpret_cast<CImageDialog*>(GetWindowLongPtrW(dialog, DWLP_USER));
  switch (message) {
    case WM_INITDIALOG:
      SetWindowLongPtrW(dialog, DWLP_USER, lParam);
      self = reinterpret_cast<CImageDialog*>(lParam);
      CheckRadioButton(dialog, kQuickScanId, kRawScanId, IdOf(self->imageScanType));
      return TRUE;
    case WM_COMMAND:
      if (LOWORD(wParam) == IDOK) {
        if (IsDlgButtonChecked(dialog, kQuickScanId) == BST_CHECKED) {
          self->imageScanType = ImageScanType::QuickScan;
        } else if (IsDlgButtonChecked(dialog, kRawScanId) == BST_CHECKED) {
          self->imageScanType = ImageScanType::RawScan;
        } else {
          self->imageScanType = ImageScanType::LongScan;
        }
        EndDialog(dialog, IDOK);
        return TRUE;
      }
      if (LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, IDCANCEL);
        return TRUE;
      }
      break;
    default: break;
  }
  return FALSE;
}

}  // namespace kavo::shell
