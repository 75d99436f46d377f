// Holds a job's thread at its next report while the user is asked whether to stop it: the page
// closes the gate before the question and opens it after, and every message the job sends passes
// the gate first. The job is never suspended where it stands (it might hold a lock the question
// needs), only at a point of its own between two steps.
#pragma once

#include <condition_variable>
#include <mutex>

namespace kavo::shell {

class JobGate {
 public:
  void Pause() {
    const std::lock_guard<std::mutex> lock(m_mutex);
    m_paused = true;
  }
  void Resume() {
    {
      const std::lock_guard<std::mutex> lock(m_mutex);
      m_paused = false;
    }
    m_opened.notify_all();
  }
  // The job's side: returns at once while the gate is open, else once it opens.
  void WaitWhilePaused() {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_opened.wait(lock, [this] { return !m_paused; });
  }

 private:
  std::mutex m_mutex;
  std::condition_variable m_opened;
  bool m_paused = false;
};

}  // namespace kavo::shell
