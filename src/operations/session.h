// The process-wide state of one program run: the selected source, the progress record of the
// running job, the result tree and the found volumes. The Windows shell owns one instance;
// kavo-cli and tests make their own. Replacing a member releases the previous object.
#pragma once

#include <memory>

#include "base/progress.h"
#include "disk/disk.h"
#include "partition/drive_list_entry.h"
#include "partition/partition_record.h"
#include "recovery/tree.h"

namespace kavo {

struct Session {
  std::unique_ptr<CDisk> currentSource;
  // Shared: the page (or command line) that shows a job's progress may keep reading the record
  // after the worker has let go of it at the end of a copy.
  std::shared_ptr<ProgressRecord> progressRecord;
  NodePtr treeRoot;  // "Root" of the result tree; null while there is no result
  // The volumes a search found on `currentSource`, before they are published as rows.
  FoundVolumeList foundVolumes;
  // The rows of kind Partition, newest first.
  PartitionList foundPartitions;

  // The record every job reports through: created on first use, set running for a new job.
  ProgressRecord& StartJob() {
    if (!progressRecord) progressRecord = std::make_shared<ProgressRecord>();
    progressRecord->SetPosition(0);
    progressRecord->SetEnd(0);
    progressRecord->SetState(PS_RUNNING);
    return *progressRecord;
  }
};

}  // namespace kavo
