// What the windows of the program share: the session of the run, the frame, the router, and the
// prompter that puts the core's questions in message boxes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>

#include "operations/operation_codes.h"
#include "operations/prompter.h"
#include "operations/session.h"
#include "partition/drive_rows.h"
#include "shell/window.h"

namespace kavo::shell {

class CBaseWnd;

// The caption of the program's own message boxes.
inline constexpr wchar_t kProgramName[] = L"Kavo";

// Message boxes owned by the frame, with the program's caption unless the core gives one.
class MessageBoxPrompter final : public Prompter {
 public:
  PromptAnswer Ask(const std::u16string& text, const std::u16string& caption, PromptIcon icon,
                   PromptButtons buttons) override;
  HWND owner = nullptr;
};

struct ShellContext {
  Session session;
  HWND frame = nullptr;
  CBaseWnd* router = nullptr;
  MessageBoxPrompter prompter;
  // The drive list of the drive-listing page: the rows its loader enumerated last, and the
  // image-file row Load Image made (at most one); the found partitions are the session's.
  DriveList driveRows;
  DriveListEntryPtr imageRow;
  // How an image file chosen with Next is searched; kept from one choice to the next.
  ImageScanType imageScanType = ImageScanType::LongScan;
};

// Asks through the context's prompter with wide texts.
PromptAnswer Ask(ShellContext& context, const wchar_t* text, const wchar_t* caption,
                 PromptIcon icon, PromptButtons buttons);

// The window object for the page, command bar or button bar class `name`; null for a class this
// program does not have.
std::unique_ptr<Window> NewPageWindow(std::wstring_view name, ShellContext& context);

}  // namespace kavo::shell
