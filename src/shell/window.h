// The shell's window layer: a C++ object per window whose messages reach its OnMessage, and the
// holders that show one child at a time.
//
// Every window of the shell is created under one registered window class; its window name is the
// name of the class it is an object of ("CHomeWnd", "CScanSBar"), so that a page can be found by
// its name from outside the program, as the test driver does.
#pragma once

#include <windows.h>

#include <memory>
#include <string>
#include <vector>

namespace kavo::shell {

class Window {
 public:
  Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;
  // Destroys the window when it still exists.
  virtual ~Window();

  // Creates the window as a child of `parent` (or a top-level window when `parent` is null).
  bool Create(HWND parent, const wchar_t* name, DWORD style, const RECT& rect, DWORD exStyle = 0,
              UINT id = 0);
  HWND Handle() const { return m_hwnd; }
  const std::wstring& Name() const { return m_name; }

  // The Window object of a window of this layer, or null.
  static Window* FromHandle(HWND hwnd);

 protected:
  // Every message of the window; the default is the system's handling.
  virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam);
  // Called once the window exists (after WM_CREATE), to create its children.
  virtual void OnCreated() {}

 private:
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hwnd = nullptr;
  std::wstring m_name;
};

// While a page runs a job under a modal dialog (whose loop handles every message meanwhile), the
// objects that messages retire are kept: the page's handler, and the job's thread, still use its
// object and the tree it shows. User-interface thread only.
class ModalJobScope {
 public:
  ModalJobScope() { ++s_depth; }
  ~ModalJobScope() { --s_depth; }
  ModalJobScope(const ModalJobScope&) = delete;
  ModalJobScope& operator=(const ModalJobScope&) = delete;
  static bool Active() { return s_depth > 0; }

 private:
  static inline int s_depth = 0;
};

// True when what `message` stands for may be freed now; while a modal job runs, false, and timer
// `message` of `hwnd` asks again in 100 ms.
bool FreeNowOrLater(HWND hwnd, UINT message);

// A window that shows one child filling its client area and replaces it on request. A child may
// be replaced from inside one of its own handlers (a page's button sends the message that
// changes the page): its window goes at once, its object when the holder next gets a message
// of its own, after that handler has returned.
class Holder : public Window {
 public:
  // Destroys the current child and creates `next` under `name`. A child that cannot be created
  // (null, or its window fails) leaves the holder empty. Returns the new child or null.
  Window* Replace(std::unique_ptr<Window> next, const wchar_t* name);
  // Destroys the current child.
  void Clear() { Replace(nullptr, nullptr); }
  Window* Current() const { return m_child.get(); }
  // The window name of the current child, or empty.
  std::wstring CurrentName() const { return m_child ? m_child->Name() : std::wstring(); }

 protected:
  LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  std::unique_ptr<Window> m_child;
  std::vector<std::unique_ptr<Window>> m_retired;
};

// The client rectangle of `hwnd`.
RECT ClientRect(HWND hwnd);

}  // namespace kavo::shell
