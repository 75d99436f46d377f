// Partition-list files (.psi): the volumes found by a partition or formatted-volume search, so
// the rows can be reopened later without searching again.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>

#include "base/prompter.h"
#include "partition/drive_list_entry.h"

namespace kavo {

inline constexpr uint8_t kPartitionListMagic[8] = {'T', 'U', 'K', 'T', 'U', 'K', 'P', 'I'};

struct LoadedPartitionList {
  uint8_t operation = 0;  // 1 Partition Recovery, 2 Formatted Recovery
  PartitionList rows;     // in stored order, which is list order
};

// Writes the rows of kind Partition of `rows`, in list order, each with its record. False,
// after telling the user through `prompter` where the operation says so, on failure.
bool SavePartitionList(const std::filesystem::path& path, uint8_t operation,
                       const PartitionList& rows, Prompter& prompter);

// Reads a partition-list file. With `currentOperation` set, a file saved under another
// operation is refused with the message that names it. An entry cut short by the end of the
// file is dropped; the entries before it are kept. Nothing (after any message) on failure.
std::optional<LoadedPartitionList> LoadPartitionList(const std::filesystem::path& path,
                                                     std::optional<uint8_t> currentOperation,
                                                     Prompter& prompter);

}  // namespace kavo
