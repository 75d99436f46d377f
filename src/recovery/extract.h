// Writing nodes of the recovered-file tree out as ordinary files and folders: the one way data
// leaves the scanned source.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <unordered_set>

#include "base/progress.h"
#include "base/prompter.h"
#include "disk/disk.h"
#include "recovery/output.h"
#include "recovery/tree.h"

namespace kavo {

struct SaveCounts {
  uint64_t files = 0;
  uint64_t folders = 0;
  uint64_t bytes = 0;   // data bytes written
  uint64_t errors = 0;  // nodes skipped, files written short, failed writes
};

class FileSystemData;

class Extractor {
 public:
  // Reads node data from `source` (its file-system code and volume parameters decide how).
  // `prompter` shows the error that ends a save; `progress` (may be null) receives written bytes
  // and carries stop requests.
  Extractor(CDisk& source, ProgressRecord* progress, Prompter& prompter);
  ~Extractor();

  // Creates the node's folder or file in `destination` and writes a file's data. Returns the
  // path created, or nothing when the node was skipped or the save has ended. An existing folder
  // of the same name is never reused: the new one is named with "183" in front (183Photos,
  // 183183Photos, ...). A file of the same name from before this save is replaced; one that this
  // save wrote is kept, and the new file is named with "80" in front.
  std::optional<std::filesystem::path> ExtractNode(const std::filesystem::path& destination,
                                                   const RecoveredNode& node);

  // Gives the file or folder at `path` the node's modification and creation dates (the days the
  // tree keeps); unknown dates are left as the system set them. A folder's dates move again when
  // something is written into it, so a save sets them once the folder is complete.
  void KeepDates(const std::filesystem::path& path, const RecoveredNode& node);

  // An unexpected creation error ended the save (its text was shown through the prompter).
  bool Aborted() const { return m_aborted; }
  const SaveCounts& Counts() const { return m_counts; }
  // A stop request was honoured: the save ends, what is written stays.
  bool Stopped() { return ShouldStop(m_progress); }

  // Called with a one-line description of every node skipped or written with errors.
  std::function<void(const std::string&)> onProblem;

 private:
  std::optional<std::filesystem::path> SaveNode(const std::filesystem::path& destination,
                                                const RecoveredNode& node);
  std::optional<std::filesystem::path> CreateOutput(const std::filesystem::path& destination,
                                                    const RecoveredNode& node,
                                                    std::unique_ptr<FileOutput>& file);
  bool WriteNodeData(const RecoveredNode& node, FileOutput& output);
  bool WriteSectorRange(const RecoveredNode& node, FileOutput& output);
  void Problem(const std::string& text);

  CDisk& m_source;
  ProgressRecord* m_progress;
  Prompter& m_prompter;
  std::unique_ptr<FileSystemData> m_fileSystem;
  std::unordered_set<std::u16string> m_createdFiles;  // files this save created, by path
  SaveCounts m_counts;
  bool m_aborted = false;
};

// Counts bytes passed through to another output and notes failed writes.
class CountingOutput final : public FileOutput {
 public:
  explicit CountingOutput(FileOutput& inner) : m_inner(inner) {}
  bool Write(const uint8_t* data, size_t bytes) override;
  uint64_t written = 0;
  bool failed = false;

 private:
  FileOutput& m_inner;
};

}  // namespace kavo
