#include "operations/worker.h"

#include <vector>

#include "base/messages.h"
#include "recovery/filesystem.h"
#include "recovery/search/volume_search.h"
#include "scanners/catalogue.h"
#include "scanners/raw_scan.h"

namespace kavo {

namespace {

class Worker {
 public:
  explicit Worker(OperationContext& c)
      : m_c(c),
        m_s(c.session),
        m_progressWindow(c.progressWindow ? *c.progressWindow : m_nullWindow),
        m_kind(m_s.currentSource ? m_s.currentSource->m_nSourceKind : SourceKind::None) {}

  void Run() {
    if (!OperationStage()) return;
    SourceKindStage();
  }

 private:
  // True when the source-kind stage follows.
  bool OperationStage() {
    const uint32_t op = m_c.operation;
    if (op == kOpDeletedRecovery) {
      // A job whose source-kind stage ends on a page of its own shows nothing here: a results
      // page put up now would be read while the job goes on writing the tree, and then be torn
      // down by the job's own end. An image searched for volumes or scanned for signatures is
      // not read as one volume at all (that listing would be dropped unseen); a partition row is
      // read here once, for its stage to go on from.
      if (ImageStageNavigates()) return true;
      DeletedFileScan();
      SetIdle();
      m_scanned = true;
      if (m_kind != SourceKind::Partition) Navigate(UM_SHOW_RESULTS);
      return true;
    }
    if (op == kOpDiskImaging || op == kOpDiskCloning) {
      Copy();
      return false;
    }
    if (op == kOpPartitionRecovery && m_kind == SourceKind::PhysicalDrive) {
      if (!m_s.currentSource ||
          SearchLostVolumes(*m_s.currentSource, 0, m_s.currentSource->m_nTotalSectors, Record(),
                            m_progressWindow, m_s.foundVolumes) == 0) {
        return false;
      }
      SetIdle();
      TellIfNoneFound(Publish());
      Navigate(UM_PARTITION_RECOVERY);
      return false;
    }
    if (op == kOpFormattedRecovery && m_kind == SourceKind::LogicalDrive) {
      if (!m_s.currentSource || SearchFormattedVolume(*m_s.currentSource, Record(),
                                                      m_progressWindow, m_s.foundVolumes) == 0) {
        return false;
      }
      SetIdle();
      TellIfNoneFound(Publish());
      Navigate(UM_FORMATTED_RECOVERY);
      return false;
    }
    return true;
  }

  void SourceKindStage() {
    CDisk* source = m_s.currentSource.get();
    if (m_kind == SourceKind::Partition) {
      // The volume is read once, by the operation's stage when it did.
      if (!m_scanned) {
        DeletedFileScan();
        SetIdle();
      }
      if (m_c.advancedSearch == 0) {
        Navigate(UM_SHOW_RESULTS);
        return;
      }
      if (!Tree()) Tree() = NewRoot();
      RecoveredNode* fileType = AttachFileType(Tree().get());
      source->SeekToStart();
      SignatureScan(fileType);
      return;
    }
    if (m_kind != SourceKind::ImageFile) return;
    if (m_c.imageScanType == ImageScanType::LongScan) {
      SearchLostVolumes(*source, source->m_nStartSector, source->m_nTotalSectors, Record(),
                        m_progressWindow, m_s.foundVolumes);
      TellIfNoneFound(Publish());
      switch (m_c.operation) {
        case kOpFormattedRecovery: Navigate(UM_FORMATTED_RECOVERY); break;
        case kOpPartitionRecovery: Navigate(UM_PARTITION_RECOVERY); break;
        case kOpDeletedRecovery: Navigate(UM_DELETED_RECOVERY); break;
        default: break;
      }
      return;
    }
    if (m_c.imageScanType == ImageScanType::RawScan && m_c.advancedSearch != 0) {
      // The raw scan of an image shows its finds alone: a fresh "Root" whose first child is
      // "FileType" (an earlier tree below the old root would otherwise be cut off and lost).
      Tree() = NewRoot();
      RecoveredNode* fileType = AttachFileType(Tree().get());
      source->SeekToStart();
      SignatureScan(fileType);
    }
  }

  // True for an image whose source-kind stage searches it and sends a navigation message.
  bool ImageStageNavigates() const {
    if (m_kind != SourceKind::ImageFile) return false;
    return m_c.imageScanType == ImageScanType::LongScan ||
           (m_c.imageScanType == ImageScanType::RawScan && m_c.advancedSearch != 0);
  }

  void DeletedFileScan() {
    if (!m_s.currentSource) return;
    // A volume that cannot be read leaves no tree; the results page shows it empty.
    Tree() = ScanFileSystem(*m_s.currentSource, Record(), m_progressWindow);
  }

  void SignatureScan(RecoveredNode* fileType) {
    CDisk& source = *m_s.currentSource;
    // A registry made for this scan and bound to this source: no scanner keeps reading a source
    // that is no longer current.
    ScannerRegistry registry = BuildRegistry(m_c.signatureFormats, source);
    const uint64_t end =
        m_c.signatureEndSector != 0 ? m_c.signatureEndSector : source.m_nTotalSectors;
    RawScan(source, m_c.signatureFirstSector, end, registry, fileType, Record(), m_progressWindow);
    SetIdle();
    if (fileType->firstChild == nullptr) {
      Inform(Unreadable(m_c.signatureFirstSector) ? kSourceUnreadable : kNoFilesFound);
    }
    m_c.advancedSearch = 0;
    Navigate(UM_SHOW_RESULTS);
  }

  void Copy() {
    CDiskCopy* engine = m_c.copySource;
    if (engine == nullptr) return;
    engine->WriteLogHeader();
    if (m_c.forwardCopy == 1) {
      const bool completed = engine->CopyForward(m_progressWindow);
      Tell(completed ? kCopyCompleted : kCopyTerminated);
      SetIdle();
      if (m_c.openLog) m_c.openLog(engine->m_logFile);
      // The record of a forward copy ends with the job; the engine no longer points at it.
      if (engine->m_pProgress == m_s.progressRecord.get()) engine->m_pProgress = nullptr;
      m_s.progressRecord.reset();
      Navigate(UM_GO_HOME);
      return;
    }
    const bool completed = engine->CopyReverse(m_progressWindow);
    Tell(completed ? kReverseCopyCompleted : kCopyTerminated);
    SetIdle();
    Navigate(UM_GO_HOME);
  }

  // The number of rows made: volumes listed before are not listed again.
  size_t Publish() {
    const CDisk* source = m_s.currentSource.get();
    return PublishFoundVolumes(m_s.foundVolumes, source ? source->m_nSourceKind : SourceKind::None,
                               source ? source->GetName() : std::u16string(), m_s.foundPartitions);
  }
  // A search that added no row says so, and why when the source could not be read at all.
  void TellIfNoneFound(size_t made) {
    if (made != 0) return;
    const CDisk* source = m_s.currentSource.get();
    Inform(Unreadable(source ? source->m_nStartSector : 0) ? kSourceUnreadable : kNoNewPartitions);
  }
  // True when the sector where a search began cannot be read: a search over such a source has
  // seen nothing of it (a container whose data cannot be read, a drive gone).
  bool Unreadable(uint64_t sector) {
    CDisk* source = m_s.currentSource.get();
    if (source == nullptr || source->m_nSectorSize == 0) return true;
    std::vector<uint8_t> buffer(source->m_nSectorSize);
    return !source->ReadSectors(buffer.data(), source->m_nSectorSize, sector);
  }

  ProgressRecord* Record() { return m_s.progressRecord.get(); }
  NodePtr& Tree() { return m_c.tree != nullptr ? *m_c.tree : m_s.treeRoot; }

  void SetIdle() {
    if (ProgressRecord* r = Record()) r->SetState(PS_IDLE);
  }

  void Navigate(uint32_t message) {
    if (m_c.mainWindow) m_c.mainWindow->Send(message, 0, 0);
  }

  void Inform(const char16_t* text) {
    if (m_c.prompter) {
      m_c.prompter->Ask(text, u"Information", PromptIcon::Information, PromptButtons::Ok);
    }
  }
  void Tell(const char16_t* text) {
    if (m_c.prompter) {
      m_c.prompter->Ask(text, u"Kavo", PromptIcon::Information, PromptButtons::Ok);
    }
  }

  OperationContext& m_c;
  Session& m_s;
  NullSink m_nullWindow;
  MessageSink& m_progressWindow;
  const SourceKind m_kind;
  bool m_scanned = false;  // the deleted-file scan has run
};

}  // namespace

uint32_t OperationThreadProc(OperationContext& context) {
  Worker(context).Run();
  return 0;
}

}  // namespace kavo
