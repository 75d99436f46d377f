// The process-wide state of one program run: the selected source, the progress record of the
// running job and the result tree. The Windows shell owns one instance; kavo-cli and tests make
// their own. Replacing a member releases the previous object.
#pragma once

#include <memory>

#include "disk/disk.h"
#include "operations/progress.h"
#include "recovery/tree.h"

namespace kavo {

struct Session {
  std::unique_ptr<CDisk> currentSource;
  std::unique_ptr<ProgressRecord> progressRecord;
  NodePtr treeRoot;  // "Root" of the result tree; null while there is no result

  // The record every job reports through: created on first use, set running for a new job.
  ProgressRecord& StartJob() {
    if (!progressRecord) progressRecord = std::make_unique<ProgressRecord>();
    progressRecord->SetPosition(0);
    progressRecord->SetEnd(0);
    progressRecord->SetState(PS_RUNNING);
    return *progressRecord;
  }
};

}  // namespace kavo
