// A failing disk for copy tests (Linux): an image file served through the faulty_media FUSE
// program, with chosen sector ranges unreadable, slow or flaky, and a loop device over it.
#pragma once

#ifndef _WIN32

#include <filesystem>
#include <memory>
#include <string>

#include "copy/loop_device.h"

namespace kavo::test {

class FaultyMedia {
 public:
  // Serves `image` with the faulty_media options `faults` ("--bad 1000-1007 ..."); when that is
  // not possible, device() is empty and `why` says so.
  FaultyMedia(const std::filesystem::path& image, const std::string& faults,
              const std::filesystem::path& scratch, std::string& why)
      : m_mount(scratch / "faulty") {
#ifdef KAVO_FAULTY_MEDIA
    std::filesystem::create_directories(m_mount);
    if (!std::filesystem::exists("/dev/fuse")) {
      why = "/dev/fuse is missing";
      return;
    }
    if (RunShell(std::string(KAVO_FAULTY_MEDIA) + " " + Quoted(image) + " " + Quoted(m_mount) +
                 " " + faults + " 2>/dev/null") != 0) {
      why = "the FUSE mount was refused (needs root or fuse permissions)";
      return;
    }
    m_mounted = true;
    m_loop = std::make_unique<LoopDevice>(m_mount / "disk", scratch, why);
    // Without read-ahead the device's cache holds 4 KiB pages, so a failing sector spoils only
    // its own page instead of a whole read-ahead window.
    if (!m_loop->path().empty()) RunShell("blockdev --setra 0 " + m_loop->path());
#else
    (void)image;
    (void)faults;
    why = "faulty_media was not built (libfuse3 is missing)";
#endif
  }
  ~FaultyMedia() {
    m_loop.reset();
    if (m_mounted) RunShell("fusermount3 -u " + Quoted(m_mount) + " 2>/dev/null");
  }
  FaultyMedia(const FaultyMedia&) = delete;
  FaultyMedia& operator=(const FaultyMedia&) = delete;

  // The loop device over the failing file, or empty.
  std::string device() const {
    return m_loop ? m_loop->path() : std::string();
  }
  std::filesystem::path file() const {
    return m_mount / "disk";
  }

 private:
  std::filesystem::path m_mount;
  bool m_mounted = false;
  std::unique_ptr<LoopDevice> m_loop;
};

}  // namespace kavo::test

#endif  // _WIN32
