// What the windows of the program share: the session of the run, the frame, the router, and the
// prompter that puts the core's questions in message boxes.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "base/operation_codes.h"
#include "base/prompter.h"
#include "copy/disk_copy.h"
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
  ShellContext() = default;
  ShellContext(const ShellContext&) = delete;
  ShellContext& operator=(const ShellContext&) = delete;
  // A job still running is asked to stop and waited for: it uses the session until it ends.
  ~ShellContext();

  // Keeps the thread of a job the scan page started; finished ones are let go.
  void AddWorker(HANDLE thread);

  Session session;
  HWND frame = nullptr;
  CBaseWnd* router = nullptr;
  MessageBoxPrompter prompter;
  // The formats ticked on the format-selection page when it last closed, in catalogue order:
  // what the next signature scan registers its scanners for.
  std::vector<std::u16string> signatureFormats;
  // How an image file is searched, as chosen when the image was selected.
  ImageScanType imageScanType = ImageScanType::LongScan;
  // The source engine of a copy job, set up with its destination and progress record by the
  // page that set the copy up; null while there is none.
  CDiskCopy* copySource = nullptr;
  // The two engines of the last copy job set up (source, destination); copySource points at the
  // first. They stay until the next job is set up: the worker uses them until its last message.
  std::unique_ptr<CDiskCopy> copyEngines[2];
  // The threads of the jobs started and not yet seen ending.
  std::vector<HANDLE> workers;
  // The drive list of the drive-listing page: the rows its loader enumerated last, and the
  // image-file row Load Image made (at most one); the found partitions are the session's.
  DriveList driveRows;
  DriveListEntryPtr imageRow;
};

// Asks through the context's prompter with wide texts.
PromptAnswer Ask(ShellContext& context, const wchar_t* text, const wchar_t* caption,
                 PromptIcon icon, PromptButtons buttons);

}  // namespace kavo::shell
