#include "shell/shell_context.h"

#include <algorithm>

#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

UINT IconFlags(PromptIcon icon) {
  switch (icon) {
    case PromptIcon::Information: return MB_ICONINFORMATION;
    case PromptIcon::Warning: return MB_ICONWARNING;
    case PromptIcon::Error: return MB_ICONERROR;
    case PromptIcon::Question: return MB_ICONQUESTION;
    case PromptIcon::None: break;
  }
  return 0;
}

UINT ButtonFlags(PromptButtons buttons) {
  switch (buttons) {
    case PromptButtons::OkCancel: return MB_OKCANCEL;
    case PromptButtons::YesNo: return MB_YESNO;
    case PromptButtons::YesNoCancel: return MB_YESNOCANCEL;
    case PromptButtons::RetryCancel: return MB_RETRYCANCEL;
    case PromptButtons::Ok: break;
  }
  return MB_OK;
}

}  // namespace

ShellContext::~ShellContext() {
  for (const HANDLE thread : workers) {
    if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT && session.progressRecord) {
      session.progressRecord->RequestStop();
    }
    // Its routine stops at its next check. A message it sends meanwhile is handled (its window
    // is gone, so it returns at once) rather than left waiting for a loop that no longer runs.
    while (MsgWaitForMultipleObjects(1, &thread, FALSE, INFINITE, QS_SENDMESSAGE) ==
           WAIT_OBJECT_0 + 1) {
      MSG message;
      PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
    CloseHandle(thread);
  }
}

void ShellContext::AddWorker(HANDLE thread) {
  const auto ended = [](HANDLE t) {
    if (WaitForSingleObject(t, 0) != WAIT_OBJECT_0) return false;
    CloseHandle(t);
    return true;
  };
  workers.erase(std::remove_if(workers.begin(), workers.end(), ended), workers.end());
  workers.push_back(thread);
}

PromptAnswer MessageBoxPrompter::Ask(const std::u16string& text, const std::u16string& caption,
                                     PromptIcon icon, PromptButtons buttons) {
  const std::wstring title = caption.empty() ? std::wstring(kProgramName) : Wide(caption);
  switch (MessageBoxW(owner, Wide(text).c_str(), title.c_str(),
                      IconFlags(icon) | ButtonFlags(buttons))) {
    case IDYES: return PromptAnswer::Yes;
    case IDNO: return PromptAnswer::No;
    case IDCANCEL: return PromptAnswer::Cancel;
    case IDRETRY: return PromptAnswer::Retry;
    default: return PromptAnswer::Ok;
  }
}

PromptAnswer Ask(ShellContext& context, const wchar_t* text, const wchar_t* caption,
                 PromptIcon icon, PromptButtons buttons) {
  const std::wstring t(text);
  const std::wstring c(caption != nullptr ? caption : L"");
  return context.prompter.Ask({t.begin(), t.end()}, {c.begin(), c.end()}, icon, buttons);
}

}  // namespace kavo::shell
