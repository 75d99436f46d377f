// Running one job of kavo-cli through the operation worker, as the shell's scan page does: the
// command chooses the operation and the kind of drive-list row its source stands for, the worker
// picks the routine, and the command reads the result from the navigation message it ended with.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "disk/disk.h"
#include "operations/worker.h"

namespace kavo::cli {

struct JobSpec {
  uint32_t operation = 0;
  SourceKind kind = SourceKind::None;  // the row kind the source stands for during the job
  ImageScanType imageScanType = ImageScanType::QuickScan;
  bool advancedSearch = false;
  // The signature scan.
  std::vector<std::u16string> formats;
  uint64_t firstSector = 0;
  uint64_t endSector = 0;  // 0: to the end of the source
  // Copy jobs: the source engine, wired to its destination.
  CDiskCopy* copySource = nullptr;
  bool forwardCopy = true;
  bool jsonProgress = false;  // copy jobs: progress records on stdout
  // The progress bar: its label and the bytes per unit of the record's position.
  std::string label;
  uint64_t unitBytes = 0;
};

struct JobResult {
  std::vector<uint32_t> navigation;  // the worker's navigation messages, in order
  NodePtr tree;                      // the result tree of a file or signature scan
  PartitionList rows;                // the rows a search published, newest first
  std::u16string closingText;        // what a copy job told the user at its end
  bool stopped = false;              // Ctrl-C ended the job early
};

// Runs the job on `source` (the selected source, handed back afterwards with its own kind),
// with a progress bar and Ctrl-C as the stop request.
JobResult RunJob(std::unique_ptr<CDisk>& source, const JobSpec& spec);

}  // namespace kavo::cli
