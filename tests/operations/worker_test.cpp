// The operation worker: which job runs for each operation and source kind, the navigation
// messages it ends with, stops, and the copy jobs' closing messages.
#include "operations/worker.h"

#include <gtest/gtest.h>

#include "base/messages.h"
#include "copy/fault_device.h"
#include "disk/volume.h"
#include "support/fixtures.h"
#include "support/process.h"
#include "support/recording_prompter.h"
#include "support/test_paths.h"

namespace kavo {
namespace {

namespace fs = std::filesystem;

// The main window: keeps the navigation messages in order.
class Navigation final : public MessageSink {
 public:
  intptr_t Send(uint32_t message, uintptr_t, intptr_t) override {
    messages.push_back(message);
    return 0;
  }
  std::vector<uint32_t> messages;
};

// The progress window: counts progress messages and, when asked, requests a stop at the first.
class ProgressWindow final : public MessageSink {
 public:
  intptr_t Send(uint32_t message, uintptr_t, intptr_t) override {
    if (message != UM_PROGRESS && message != UM_SET_PERCENT) return 0;
    ++progress;
    if (stopAtFirst && record) record->RequestStop();
    return 0;
  }
  int progress = 0;
  bool stopAtFirst = false;
  ProgressRecord* record = nullptr;
};

class WorkerTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string why;
    m_fixtures = test::FixturesDir(why);
    if (m_fixtures.empty()) GTEST_SKIP() << why;
  }

  // Selects `image` as the current source with the kind of the row the user picked; a volume
  // kind has its file system detected as opening a volume row does.
  void Select(const std::string& image, SourceKind kind) {
    session.currentSource = std::make_unique<CDisk>();
    CDisk& disk = *session.currentSource;
    disk.m_nSourceKind = SourceKind::ImageFile;
    ASSERT_TRUE(disk.Open((m_fixtures / image).u16string()));
    if (kind == SourceKind::Partition || kind == SourceKind::LogicalDrive) {
      ASSERT_TRUE(DetectVolume(disk));
    }
    disk.m_nSourceKind = kind;
  }

  void Run(uint32_t operation) {
    context.operation = operation;
    context.mainWindow = &navigation;
    context.progressWindow = &window;
    context.prompter = &prompter;
    session.StartJob();
    window.record = session.progressRecord.get();
    OperationThreadProc(context);
  }

  std::vector<std::u16string> TopNames() const {
    std::vector<std::u16string> names;
    if (!session.treeRoot) return names;
    for (const RecoveredNode* n = session.treeRoot->firstChild; n; n = n->nextSibling) {
      names.push_back(n->name);
    }
    return names;
  }

  fs::path m_fixtures;
  Session session;
  OperationContext context{session};
  Navigation navigation;
  ProgressWindow window;
  test::RecordingPrompter prompter;
};

using Messages = std::vector<uint32_t>;

// A caller that keeps the job's tree apart takes it at each UM_SHOW_RESULTS, as a window that
// shows the session's tree does; the job never touches the session's tree meanwhile.
class TakingNavigation final : public MessageSink {
 public:
  TakingNavigation(NodePtr& jobTree, const Session& session) : m_job(jobTree), m_s(session) {}
  intptr_t Send(uint32_t message, uintptr_t, intptr_t) override {
    if (message != UM_SHOW_RESULTS) return 0;
    sessionTreeKept = sessionTreeKept && m_s.treeRoot.get() == shown;
    taken.push_back(std::move(m_job));
    return 0;
  }
  const RecoveredNode* shown = nullptr;
  bool sessionTreeKept = true;
  std::vector<NodePtr> taken;

 private:
  NodePtr& m_job;
  const Session& m_s;
};

TEST_F(WorkerTest, AJobWithItsOwnTreeHandsEachResultOverAndLeavesTheSessionsTree) {
  Select("ntfs.img", SourceKind::Partition);
  session.treeRoot = NewRoot();  // the tree on screen
  NodePtr jobTree;
  TakingNavigation taker(jobTree, session);
  taker.shown = session.treeRoot.get();
  context.tree = &jobTree;
  context.operation = kOpDeletedRecovery;
  context.mainWindow = &taker;
  session.StartJob();
  OperationThreadProc(context);
  EXPECT_TRUE(taker.sessionTreeKept);
  EXPECT_EQ(session.treeRoot.get(), taker.shown);
  // Deleted Recovery of a volume row ends once on the results, with a tree of its own.
  ASSERT_EQ(taker.taken.size(), 1u);
  for (const NodePtr& tree : taker.taken) {
    ASSERT_NE(tree, nullptr);
    EXPECT_NE(tree->firstChild, nullptr);
  }
}

TEST_F(WorkerTest, DeletedRecoveryOfALogicalDriveScansOnce) {
  Select("ntfs.img", SourceKind::LogicalDrive);
  Run(kOpDeletedRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_SHOW_RESULTS});
  EXPECT_EQ(TopNames(), std::vector<std::u16string>{u"Data"});
  EXPECT_EQ(session.progressRecord->State(), PS_IDLE);
  EXPECT_GT(window.progress, 0);
}

TEST_F(WorkerTest, DeletedRecoveryOfAPartitionRowScansOnceThenForSignatures) {
  Select("ntfs.img", SourceKind::LogicalDrive);
  Run(kOpDeletedRecovery);
  const int oneScan = window.progress;
  window.progress = 0;
  navigation.messages.clear();

  Select("ntfs.img", SourceKind::Partition);
  Run(kOpDeletedRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_SHOW_RESULTS});
  EXPECT_EQ(TopNames(), std::vector<std::u16string>{u"Data"});
  EXPECT_EQ(window.progress, oneScan) << "the file system is read once";

  navigation.messages.clear();
  context.advancedSearch = 1;
  context.signatureFormats = {u"JPG", u"PNG", u"BMP"};
  Run(kOpDeletedRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_SHOW_RESULTS});  // after the signature scan
  EXPECT_EQ(TopNames(), (std::vector<std::u16string>{u"Data", u"FileType"}));
  EXPECT_EQ(context.advancedSearch, 0u);
}

TEST_F(WorkerTest, SearchesRunOnlyForTheirSourceKinds) {
  // Partition Recovery of a logical drive and Formatted Recovery of a physical drive: no job.
  Select("ntfs.img", SourceKind::LogicalDrive);
  Run(kOpPartitionRecovery);
  Select("fat32.img", SourceKind::PhysicalDrive);
  Run(kOpFormattedRecovery);
  EXPECT_TRUE(navigation.messages.empty());
  EXPECT_EQ(window.progress, 0);

  Select("fat32.img", SourceKind::PhysicalDrive);
  Run(kOpPartitionRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_PARTITION_RECOVERY});
  EXPECT_GT(window.progress, 0);

  navigation.messages.clear();
  Select("ntfs.img", SourceKind::LogicalDrive);
  Run(kOpFormattedRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_FORMATTED_RECOVERY});
}

TEST_F(WorkerTest, ImageFilesByScanType) {
  const std::pair<uint32_t, uint32_t> longScans[] = {{kOpPartitionRecovery, UM_PARTITION_RECOVERY},
                                                     {kOpFormattedRecovery, UM_FORMATTED_RECOVERY}};
  for (const auto& [operation, message] : longScans) {
    navigation.messages.clear();
    Select("pictures.img", SourceKind::ImageFile);
    context.imageScanType = ImageScanType::LongScan;
    Run(operation);
    EXPECT_EQ(navigation.messages, Messages{message}) << operation;
  }
  // Deleted Recovery of an image: the long scan's drive list alone, no results page put up
  // while the search still runs.
  navigation.messages.clear();
  Select("ntfs.img", SourceKind::ImageFile);
  Run(kOpDeletedRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_DELETED_RECOVERY});

  // Quick Scan, and Raw Scan without the advanced search: nothing to do.
  navigation.messages.clear();
  context.imageScanType = ImageScanType::QuickScan;
  Run(kOpPartitionRecovery);
  context.imageScanType = ImageScanType::RawScan;
  Run(kOpAdvanceOption);
  EXPECT_TRUE(navigation.messages.empty());

  // Raw Scan, from the advanced options or from Deleted Recovery: the results shown once, at the
  // end, a fresh tree whose first child is FileType, holding the pictures.
  for (const uint32_t operation : {kOpAdvanceOption, kOpDeletedRecovery}) {
    navigation.messages.clear();
    Select("pictures.img", SourceKind::ImageFile);
    context.advancedSearch = 1;
    context.signatureFormats = {u"JPG", u"PNG", u"BMP"};
    Run(operation);
    EXPECT_EQ(navigation.messages, Messages{UM_SHOW_RESULTS}) << operation;
    ASSERT_EQ(TopNames(), std::vector<std::u16string>{u"FileType"}) << operation;
    EXPECT_NE(session.treeRoot->firstChild->firstChild, nullptr);
    EXPECT_EQ(context.advancedSearch, 0u);
  }
}

// A search that adds nothing says so: a long scan of an image without volumes, and a raw scan
// over sectors that hold no file.
TEST_F(WorkerTest, ASearchThatAddsNothingSaysSo) {
  Select("pictures.img", SourceKind::ImageFile);
  context.imageScanType = ImageScanType::LongScan;
  Run(kOpPartitionRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_PARTITION_RECOVERY});
  EXPECT_EQ(prompter.said,
            std::vector<std::u16string>{std::u16string(u"Information: ") + kNoNewPartitions});

  prompter.said.clear();
  Select("pictures.img", SourceKind::ImageFile);
  context.imageScanType = ImageScanType::RawScan;
  context.advancedSearch = 1;
  context.signatureFormats = {u"JPG"};
  context.signatureFirstSector = 0;
  context.signatureEndSector = 1;
  Run(kOpAdvanceOption);
  EXPECT_EQ(prompter.said,
            std::vector<std::u16string>{std::u16string(u"Information: ") + kNoFilesFound});
}

TEST_F(WorkerTest, AStoppedScanStillEndsOnItsNextPage) {
  Select("pictures.img", SourceKind::ImageFile);
  context.imageScanType = ImageScanType::RawScan;
  context.advancedSearch = 1;
  context.signatureFormats = {u"JPG"};
  window.stopAtFirst = true;
  Run(kOpAdvanceOption);
  EXPECT_EQ(navigation.messages, Messages{UM_SHOW_RESULTS});
  EXPECT_EQ(window.progress, 1) << "the scan honours the stop at its next check";

  navigation.messages.clear();
  Select("ntfs.img", SourceKind::LogicalDrive);
  Run(kOpDeletedRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_SHOW_RESULTS});

  // A stopped search still publishes what it found and shows the drive list.
  navigation.messages.clear();
  Select("fat32.img", SourceKind::PhysicalDrive);
  Run(kOpPartitionRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_PARTITION_RECOVERY});
  navigation.messages.clear();
  Select("ntfs.img", SourceKind::LogicalDrive);
  Run(kOpFormattedRecovery);
  EXPECT_EQ(navigation.messages, Messages{UM_FORMATTED_RECOVERY});
}

// Copy jobs on the fault-injecting device: the closing message, the home page, the record.
class WorkerCopyTest : public ::testing::Test {
 protected:
  WorkerCopyTest() : source(test::FaultOpener(src)), destination(test::FaultOpener(dst)) {
    src.sectors = 3000;
    dst.stored = true;
    dst.sectors = 3000;
    dst.bytes.assign(3000 * 512, 0);
    EXPECT_TRUE(source.Open(u"source", platform::OpenMode::Read));
    EXPECT_TRUE(destination.Open(u"target"));
    source.m_pDestination = &destination;
    source.m_logFile = dir / "copy.log";
    source.m_sourceName = u"E:";
    source.m_destinationName = u"F:";
    context.copySource = &source;
    context.mainWindow = &navigation;
    context.prompter = &prompter;
    context.openLog = [this](const fs::path& log) { opened = log; };
  }

  void Run(uint32_t operation) {
    source.m_pProgress = &session.StartJob();
    context.operation = operation;
    OperationThreadProc(context);
  }

  test::ScratchDir dir;
  test::FaultDeviceState src, dst;
  CDiskCopy source, destination;
  Session session;
  OperationContext context{session};
  Navigation navigation;
  test::RecordingPrompter prompter;
  fs::path opened;
};

TEST_F(WorkerCopyTest, ForwardCopyEndsHomeAndReleasesTheRecord) {
  Run(kOpDiskImaging);
  EXPECT_EQ(prompter.said, std::vector<std::u16string>{u"Kavo: Operation completed successfully."});
  EXPECT_EQ(navigation.messages, Messages{UM_GO_HOME});
  EXPECT_EQ(session.progressRecord, nullptr);
  EXPECT_EQ(source.m_pProgress, nullptr);
  EXPECT_EQ(opened, dir / "copy.log");
  EXPECT_TRUE(fs::exists(dir / "copy.log"));
}

TEST_F(WorkerCopyTest, ReverseCopyKeepsTheRecordIdle) {
  context.forwardCopy = 0;
  Run(kOpDiskCloning);
  EXPECT_EQ(prompter.said, std::vector<std::u16string>{u"Kavo: Operation completed successfully"});
  EXPECT_EQ(navigation.messages, Messages{UM_GO_HOME});
  ASSERT_NE(session.progressRecord, nullptr);
  EXPECT_EQ(session.progressRecord->State(), PS_IDLE);
  EXPECT_TRUE(opened.empty());
}

TEST_F(WorkerCopyTest, StoppedOrFailedCopyIsTerminated) {
  src.onRead = [this](uint64_t sector, uint64_t) {
    if (sector > 0 && session.progressRecord) session.progressRecord->RequestStop();
  };
  src.failingReads[10] = test::FaultDeviceState::kAlways;
  Run(kOpDiskCloning);
  EXPECT_EQ(prompter.said, std::vector<std::u16string>{u"Kavo: Operation terminated."});
  EXPECT_EQ(navigation.messages, Messages{UM_GO_HOME});

  // A destination that refuses a write: data was lost, so the job is not a success.
  prompter.said.clear();
  src.onRead = nullptr;
  src.failingReads.clear();
  dst.failWriteAt = 5;
  Run(kOpDiskImaging);
  EXPECT_EQ(prompter.said, std::vector<std::u16string>{u"Kavo: Operation terminated."});
}

}  // namespace
}  // namespace kavo
