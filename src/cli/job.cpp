#include "cli/job.h"

#include "cli/progress_bar.h"

namespace kavo::cli {

namespace {

class NavigationLog final : public MessageSink {
 public:
  intptr_t Send(uint32_t message, uintptr_t, intptr_t) override {
    messages.push_back(message);
    return 0;
  }
  std::vector<uint32_t> messages;
};

// The message box at the end of a copy: kept for the command to print after its counts.
class ClosingText final : public Prompter {
 public:
  PromptAnswer Ask(const std::u16string& text, const std::u16string&, PromptIcon,
                   PromptButtons) override {
    said = text;
    return PromptAnswer::Ok;
  }
  std::u16string said;
};

}  // namespace

JobResult RunJob(std::unique_ptr<CDisk>& source, const JobSpec& spec) {
  Session session;
  session.currentSource = std::move(source);
  const SourceKind ownKind =
      session.currentSource ? session.currentSource->m_nSourceKind : SourceKind::None;
  if (session.currentSource) session.currentSource->m_nSourceKind = spec.kind;

  // The bar and the stop request keep the record even after the worker releases it.
  session.StartJob();
  const std::shared_ptr<ProgressRecord> record = session.progressRecord;
  if (spec.copySource) {
    CDiskCopy& engine = *spec.copySource;
    engine.m_pProgress = record.get();
    record->SetPosition(engine.m_nStartSector * engine.m_nSectorSize);
    record->SetEnd(engine.m_nEndSector * engine.m_nSectorSize);
  }

  NavigationLog navigation;
  ClosingText closing;
  OperationContext context(session);
  context.operation = spec.operation;
  context.advancedSearch = spec.advancedSearch ? 1 : 0;
  context.forwardCopy = spec.forwardCopy ? 1 : 0;
  context.imageScanType = spec.imageScanType;
  context.copySource = spec.copySource;
  context.signatureFormats = spec.formats;
  context.signatureFirstSector = spec.firstSector;
  context.signatureEndSector = spec.endSector;
  context.mainWindow = &navigation;
  context.prompter = &closing;

  JobResult result;
  {
    ProgressBar bar(*record, spec.label, spec.unitBytes);
    if (spec.copySource) bar.ShowCopy(spec.copySource->m_counters, spec.jsonProgress);
    context.progressWindow = &bar;
    {
      StopOnInterrupt stopper(*record);
      OperationThreadProc(context);
    }
    if (spec.copySource) bar.Draw(true);
    bar.Finish();
  }
  if (spec.copySource) spec.copySource->m_pProgress = nullptr;
  result.stopped = StopOnInterrupt::Interrupted();
  result.navigation = std::move(navigation.messages);
  result.tree = std::move(session.treeRoot);
  result.rows = std::move(session.foundPartitions);
  result.closingText = std::move(closing.said);
  if (session.currentSource) session.currentSource->m_nSourceKind = ownKind;
  source = std::move(session.currentSource);
  return result;
}

}  // namespace kavo::cli
