#include "shell/scan_wnd.h"

// clang-format off
#include <windows.h>
#include <commctrl.h>
#include <shellapi.h>
// clang-format on

#include <string>
#include <vector>

#include "base/messages.h"
#include "copy/disk_copy.h"
#include "operations/worker.h"
#include "shell/base_wnd.h"
#include "shell/controls.h"
#include "shell/job_gate.h"
#include "shell/main_frame.h"
#include "shell/page_helpers.h"
#include "shell/tree_selection_wnd.h"

namespace kavo::shell {

namespace {

// Sent by the worker's navigation sink to the scan page just before the navigation message:
// wParam = the worker's advancedSearch, which the page hands back to the router.
constexpr UINT kJobNavigates = WM_APP + 0x310;
constexpr COLORREF kWaitColour = 0xFF8000;

// Sends the worker's messages to a window, synchronously, once the gate lets the job go on.
class WindowSink final : public MessageSink {
 public:
  // `record`, when given, is the job's progress record, whose reports are thinned out.
  WindowSink(HWND target, JobGate& gate, const ProgressRecord* record = nullptr)
      : m_target(target), m_gate(gate), m_record(record) {}
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    m_gate.WaitWhilePaused();
    // A scan reports after every block it reads, thousands of times a second on an empty
    // stretch of disk; each report waits for the page, so the page gets one every 50 ms, and
    // the last one, and the job does not go at the page's pace.
    if (message == UM_PROGRESS && m_record != nullptr && m_record->Position() < m_record->End()) {
      const ULONGLONG now = GetTickCount64();
      if (now - m_lastProgress < 50) return 0;
      m_lastProgress = now;
    }
    return SendMessageW(m_target, message, wParam, lParam);
  }

 private:
  HWND m_target;
  JobGate& m_gate;
  const ProgressRecord* m_record;
  ULONGLONG m_lastProgress = 0;
};

// The results go to the frame with the job's tree, which the frame takes over on its own thread
// as it shows them; the other navigation messages go to the router.
class NavigationSink final : public MessageSink {
 public:
  NavigationSink(HWND page, HWND router, HWND frame, JobGate& gate,
                 const OperationContext& operation)
      : m_page(page), m_router(router, gate), m_frame(frame, gate), m_operation(operation) {}
  intptr_t Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    // A page that is already gone has nothing to hand back: the message simply fails.
    SendMessageW(m_page, kJobNavigates, m_operation.advancedSearch, 0);
    if (message == UM_SHOW_RESULTS && m_operation.tree != nullptr) {
      return m_frame.Send(UM_JOB_RESULTS, 0, reinterpret_cast<intptr_t>(m_operation.tree));
    }
    return m_router.Send(message, wParam, lParam);
  }

 private:
  HWND m_page;
  WindowSink m_router;
  WindowSink m_frame;
  const OperationContext& m_operation;
};

}  // namespace

// One job: what the worker reads, the gate of the stop question and the sinks of its messages.
// Shared by the page and the worker's thread, so it lives as long as the longer of the two.
struct ScanJob {
  ScanJob(Session& session, HWND page, HWND router, HWND frame,
          std::shared_ptr<const ProgressRecord> jobRecord)
      : operation(session),
        record(std::move(jobRecord)),
        progress(page, gate, record.get()),
        navigation(page, router, frame, gate, operation) {
    operation.tree = &tree;
  }
  ~ScanJob() {
    for (const HANDLE thread : earlier) CloseHandle(thread);
  }
  OperationContext operation;
  // Kept for the job's reports: a forward copy lets the session's record go at its end.
  std::shared_ptr<const ProgressRecord> record;
  // The tree the job builds, until the frame takes it over with the results.
  NodePtr tree;
  JobGate gate;
  WindowSink progress;
  NavigationSink navigation;
  // The threads of earlier jobs still running when this one was started: one job at a time
  // works on the session, so this one begins when they have ended.
  std::vector<HANDLE> earlier;
};

namespace {

DWORD WINAPI RunJob(void* parameter) {
  const std::unique_ptr<std::shared_ptr<ScanJob>> job(
      static_cast<std::shared_ptr<ScanJob>*>(parameter));
  for (const HANDLE thread : (*job)->earlier) WaitForSingleObject(thread, INFINITE);
  OperationThreadProc((*job)->operation);
  return 0;
}

}  // namespace

CScanWnd::~CScanWnd() {
  if (m_font != nullptr) DeleteObject(m_font);
}

void CScanWnd::OnCreated() {
  SetTimer(Handle(), kScanTimer, 1000, nullptr);
  CreateControls();
  FillControls();
  m_start = std::time(nullptr);
  StartWorker();
}

void CScanWnd::CreateControls() {
  LOGFONTW font{};
  GetObjectW(GetStockObject(DEFAULT_GUI_FONT), sizeof font, &font);
  font.lfHeight = 18;
  m_font = CreateFontIndirectW(&font);

  const RECT client = ClientRect(Handle());
  const HINSTANCE instance = GetModuleHandleW(nullptr);
  const HWND bar = CreateWindowExW(0, PROGRESS_CLASSW, nullptr, WS_CHILD | WS_VISIBLE | PBS_SMOOTH,
                                   10, 40, client.right - 20, 22, Handle(),
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(kScanProgressId)),
                                   instance, nullptr);
  SendMessageW(bar, PBM_SETRANGE32, 0, 100);
  SendMessageW(bar, PBM_SETPOS, 1, 0);

  const struct {
    const wchar_t* label;
    int valueId;
  } rows[] = {{L"Disk Name:", kDiskNameId},       {L"Disk Size:", kDiskSizeId},
              {L"Completed", kCompletedId},       {L"Start Time:", kStartTimeId},
              {L"Elapsed Time:", kElapsedTimeId}, {L"Operation:", kOperationId}};
  int y = 80;
  for (const auto& row : rows) {
    const HWND label = CreateWindowExW(0, L"STATIC", row.label, WS_CHILD | WS_VISIBLE, 10, y, 150,
                                       24, Handle(), nullptr, instance, nullptr);
    const HWND value = CreateWindowExW(
        0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 170, y, client.right - 180, 24,
        Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(row.valueId)), instance, nullptr);
    SendMessageW(label, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    SendMessageW(value, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    y += 30;
  }
  const uint32_t operation = m_context.router != nullptr ? m_context.router->operation : 0;
  if ((operation == kOpDiskImaging || operation == kOpDiskCloning) &&
      m_context.copySource != nullptr) {
    const HWND figures = CreateWindowExW(
        0, L"STATIC", L"", WS_CHILD | WS_VISIBLE | SS_NOPREFIX, 10, y, client.right - 20, 24,
        Handle(), reinterpret_cast<HMENU>(static_cast<INT_PTR>(kCopyFiguresId)), instance, nullptr);
    SendMessageW(figures, WM_SETFONT, reinterpret_cast<WPARAM>(m_font), FALSE);
    m_copyMeter.emplace(m_context.copySource->m_counters);
  }
}

void CScanWnd::FillControls() {
  const uint32_t operation = m_context.router != nullptr ? m_context.router->operation : 0;
  const CDisk* source = m_context.session.currentSource.get();
  const CDiskCopy* copy = m_context.copySource;
  std::wstring name;
  std::wstring size;
  if (operation == kOpAdvanceOption) {
    if (copy != nullptr) name = Wide(copy->m_devicePath);
  } else if (operation == kOpDiskImaging || operation == kOpDiskCloning) {
    if (copy != nullptr) {
      name = Wide(copy->m_sourceName);
      size = Wide(SizeText(copy->m_nSectorSize, copy->m_nEndSector));
    }
  } else {
    const std::wstring sourceName = source != nullptr ? Wide(source->GetName()) : std::wstring();
    name = operation == kOpPartitionRecovery ? L"Physical Drive " + sourceName : sourceName;
    size = Wide(SizeText(source != nullptr ? source->m_nSectorSize : 0,
                         source != nullptr ? source->m_nTotalSectors : 0));
  }
  SYSTEMTIME now{};
  GetLocalTime(&now);
  wchar_t start[16] = {};
  swprintf(start, 16, L"%.2d:%.2d:%.2d", now.wHour, now.wMinute, now.wSecond);
  const std::u16string operationName = OperationName(operation);

  SetDlgItemTextW(Handle(), kDiskNameId, name.c_str());
  SetDlgItemTextW(Handle(), kDiskSizeId, size.c_str());
  SetDlgItemTextW(Handle(), kCompletedId, Wide(PercentText(m_percent.Last())).c_str());
  SetDlgItemTextW(Handle(), kStartTimeId, start);
  SetDlgItemTextW(Handle(), kElapsedTimeId, Wide(ElapsedText(0)).c_str());
  SetDlgItemTextW(Handle(), kOperationId, Wide(operationName).c_str());
}

void CScanWnd::StartWorker() {
  Session& session = m_context.session;
  // The job reports through the session's record, which the page that chose the source set
  // running; a record left stopped by an earlier job would end this one at its first check.
  ProgressRecord& record = session.progressRecord ? *session.progressRecord : session.StartJob();
  if (record.State() != PS_RUNNING) record.SetState(PS_RUNNING);

  const HWND router = m_context.router != nullptr ? m_context.router->Handle() : nullptr;
  m_job =
      std::make_shared<ScanJob>(session, Handle(), router, m_context.frame, session.progressRecord);
  OperationContext& operation = m_job->operation;
  if (m_context.router != nullptr) {
    operation.operation = m_context.router->operation;
    operation.advancedSearch = m_context.router->advancedSearch;
    operation.forwardCopy = m_context.router->forwardCopy;
  }
  operation.imageScanType = m_context.imageScanType;
  operation.signatureFormats = m_context.signatureFormats;
  operation.copySource = m_context.copySource;
  // After a forward copy the user is shown its log, from the folder the log lies in.
  operation.openLog = [](const std::filesystem::path& log) {
    if (log.empty()) return;
    SetCurrentDirectoryW(log.parent_path().c_str());
    ShellExecuteW(nullptr, L"Open", log.c_str(), nullptr, nullptr, SW_RESTORE);
  };
  operation.progressWindow = &m_job->progress;
  operation.mainWindow = &m_job->navigation;
  operation.prompter = &m_context.prompter;

  for (const HANDLE thread : m_context.workers) {
    HANDLE copy = nullptr;
    if (WaitForSingleObject(thread, 0) == WAIT_TIMEOUT &&
        DuplicateHandle(GetCurrentProcess(), thread, GetCurrentProcess(), &copy, SYNCHRONIZE, FALSE,
                        0)) {
      m_job->earlier.push_back(copy);
    }
  }
  auto* handOver = new std::shared_ptr<ScanJob>(m_job);
  const HANDLE thread = CreateThread(nullptr, 0, &RunJob, handOver, 0, nullptr);
  if (thread == nullptr) {
    delete handOver;
    return;
  }
  m_context.AddWorker(thread);
}

void CScanWnd::ShowPercent(uint32_t percent) {
  SendDlgItemMessageW(Handle(), kScanProgressId, PBM_SETPOS, percent, 0);
  SetDlgItemTextW(Handle(), kCompletedId, Wide(PercentText(percent)).c_str());
}

void CScanWnd::OnStopRequest() {
  // The job waits at its next message while the question is on screen.
  if (m_job) m_job->gate.Pause();
  KillTimer(Handle(), kScanTimer);
  const int answer = MessageBoxW(Handle(), kStopQuestion, L"Attention", MB_YESNO | MB_ICONQUESTION);
  SetTimer(Handle(), kScanTimer, 1000, nullptr);
  // The stop is asked for before the job goes on, so that its next check honours it.
  if (answer == IDYES && m_context.session.progressRecord) {
    m_context.session.progressRecord->RequestStop();
  }
  if (m_job) m_job->gate.Resume();
}

LRESULT CScanWnd::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case UM_PROGRESS: {
      const ProgressRecord* record = m_context.session.progressRecord.get();
      if (const auto percent =
              m_percent.OnProgress(record ? record->Position() : 0, record ? record->End() : 0)) {
        ShowPercent(*percent);
      }
      return 0;
    }
    case UM_SET_PERCENT:
      if (const auto percent = m_percent.OnSetPercent(static_cast<uint32_t>(wParam))) {
        ShowPercent(*percent);
      }
      return 0;
    case UM_STOP_REQUEST: OnStopRequest(); return 0;
    case kJobNavigates:
      if (m_context.router != nullptr) {
        m_context.router->advancedSearch = static_cast<uint32_t>(wParam);
      }
      return 0;
    case WM_TIMER:
      if (wParam == kScanTimer) {
        const std::time_t now = std::time(nullptr);
        m_elapsed = now > m_start ? static_cast<uint64_t>(now - m_start) : 0;
        SetDlgItemTextW(Handle(), kElapsedTimeId, Wide(ElapsedText(m_elapsed)).c_str());
        if (m_copyMeter) {
          const std::string figures =
              CopyProgressText(m_copyMeter->Sample(std::chrono::steady_clock::now()));
          SetDlgItemTextW(Handle(), kCopyFiguresId, Wide(std::string_view(figures)).c_str());
        }
      }
      return 0;
    case WM_PAINT: {
      PAINTSTRUCT paint;
      const HDC dc = BeginPaint(Handle(), &paint);
      const HGDIOBJ old = SelectObject(dc, m_font);
      SetBkMode(dc, TRANSPARENT);
      SetTextColor(dc, kWaitColour);
      TextOutW(dc, 10, 10, kPleaseWait, static_cast<int>(wcslen(kPleaseWait)));
      SelectObject(dc, old);
      EndPaint(Handle(), &paint);
      return 0;
    }
    case WM_CTLCOLORSTATIC:
      SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
      return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
    case WM_SIZE:
      MoveWindow(GetDlgItem(Handle(), kScanProgressId), 10, 40,
                 LOWORD(lParam) > 20 ? LOWORD(lParam) - 20 : 0, 22, TRUE);
      return 0;
    case WM_DESTROY:
      // The job goes on without the page until its navigation message; it is not waited for.
      KillTimer(Handle(), kScanTimer);
      // An advanced search asked for belongs to this page's job: the next one starts plain.
      if (m_context.router != nullptr) m_context.router->advancedSearch = 0;
      return 0;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

CScanCmdWnd::CScanCmdWnd(ShellContext& context)
    : CStripWnd([&context] {
        const std::u16string name =
            OperationName(context.router != nullptr ? context.router->operation : 0);
        return std::wstring(name.begin(), name.end());
      }()) {}

void CScanSBar::OnCreated() {
  CreateNorvelButton(Handle(), L"Cancel", kCancelCommand, ClientRect(Handle()).right - 110, 4, 100,
                     27);
}

LRESULT CScanSBar::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (const auto drawn = DrawBar(Handle(), message, wParam, lParam)) return *drawn;
  switch (message) {
    case WM_COMMAND:
      if (LOWORD(wParam) == kCancelCommand && HIWORD(wParam) == BN_CLICKED) {
        if (const HWND page = CurrentPageWindow(m_context)) {
          SendMessageW(page, UM_STOP_REQUEST, 0, 0);
        }
      }
      return 0;
    case WM_SIZE:
      SetWindowPos(GetDlgItem(Handle(), kCancelCommand), nullptr, LOWORD(lParam) - 110, 4, 0, 0,
                   SWP_NOSIZE | SWP_NOZORDER);
      return 0;
    default: break;
  }
  return Window::OnMessage(message, wParam, lParam);
}

}  // namespace kavo::shell
