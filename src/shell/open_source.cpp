// Next on the drive-listing page: the selected row becomes the current source.
#include <cwctype>

#include "base/messages.h"
#include "partition/partition_scan.h"
#include "platform/text.h"
#include "recovery/selected_volume.h"
#include "shell/base_wnd.h"
#include "shell/drive_listing_wnd.h"
#include "shell/image_dialog.h"
#include "shell/page_helpers.h"

namespace kavo::shell {

namespace {

constexpr wchar_t kInformation[] = L"Information";
constexpr wchar_t kSelectDrive[] = L"Please select a drive for scanning.";
constexpr wchar_t kOpenFailed[] = L"Failed to open disk.";
constexpr wchar_t kNoPartitions[] = L"No partitions found. Please go for long scan or raw scan.";
constexpr wchar_t kQuickScanDone[] =
    L"If not satisfied with quick scan results. Process the image again in long scan or raw "
    L"scan.";
constexpr wchar_t kSavePartitions[] = L"Do you want to save these patitions for future use?";
constexpr wchar_t kAdvanceSearch[] =
    L"Do you want to go for advance search? In advance search you can select the file "
    L"formats/scanners for better results.";

// A disk-image container that cannot be read is named with its reason below the message.
std::wstring OpenFailedText(const CDisk& source) {
  std::wstring text = kOpenFailed;
  if (source.m_nOpenFailure == OpenFailure::Container) {
    text += L"\n" + Wide(platform::Utf8ToUtf16(OpenFailureText(source)));
  }
  return text;
}

void Tell(ShellContext& context, const wchar_t* text, const wchar_t* caption, PromptIcon icon) {
  Ask(context, text, caption, icon, PromptButtons::Ok);
}

void ToRouter(ShellContext& context, UINT message) {
  SendMessageW(context.router->Handle(), message, 0, 0);
}

void SelectFormats(ShellContext& context) {
  context.router->advancedSearch = 1;
  ToRouter(context, UM_SELECT_FORMATS);
}

// A found partition of an image file is read from the image.
bool NamesImageFile(const DriveListEntry& entry) {
  std::u16string upper = entry.name;
  for (char16_t& c : upper) c = static_cast<char16_t>(std::towupper(c));
  return upper.find(u".IMG") != std::u16string::npos || IsImageFileSelector(entry.name);
}

// The image's search as chosen in the dialog.
void SearchImage(ShellContext& context, ImageScanType type) {
  Session& session = context.session;
  if (type == ImageScanType::QuickScan) {
    if (QuickScanImage(*session.currentSource, session.foundPartitions) ==
        QuickScanResult::NothingFound) {
      Tell(context, kNoPartitions, kInformation, PromptIcon::Information);
      context.imageScanType = ImageScanType::LongScan;
    }
    ToRouter(context, UM_PAGE_REFRESH);
    if (context.imageScanType == ImageScanType::QuickScan) {
      Tell(context, kQuickScanDone, kInformation, PromptIcon::Information);
      return;
    }
    type = ImageScanType::LongScan;
  }
  if (type == ImageScanType::RawScan) {
    SelectFormats(context);
  } else {
    ToRouter(context, UM_SHOW_SCAN);
  }
}

}  // namespace

void OpenSelectedSource(ShellContext& context, const DriveListEntry* selected) {
  if (selected == nullptr) {
    Tell(context, kSelectDrive, kInformation, PromptIcon::Information);
    return;
  }
  // The row may go with the next reload of the list; what is needed of it is kept here.
  const DriveListEntry& entry = *selected;
  const SourceKind kind = entry.kind;
  const uint32_t operation = context.router->operation;
  Session& session = context.session;
  if (!session.progressRecord) session.progressRecord = std::make_shared<ProgressRecord>();
  if (session.currentSource) session.currentSource->Close();
  session.currentSource = std::make_unique<CDisk>();
  session.progressRecord->SetState(PS_RUNNING);
  CDisk& source = *session.currentSource;

  if (kind == SourceKind::ImageFile) {
    source.m_nSourceKind = SourceKind::ImageFile;
    // An image that cannot be opened is not offered a search that cannot read it.
    if (!source.Open(entry.name)) {
      Tell(context, OpenFailedText(source).c_str(), L"Error", PromptIcon::Error);
      return;
    }
    CImageDialog dialog(context.imageScanType);
    if (dialog.Run(context.frame)) {
      context.imageScanType = dialog.imageScanType;
      SearchImage(context, dialog.imageScanType);
      return;
    }
  } else {
    if (kind == SourceKind::Partition && NamesImageFile(entry)) {
      source.m_nSourceKind = SourceKind::ImageFile;
    }
    if (!source.Open(SelectorForEntry(entry, operation))) {
      Tell(context, OpenFailedText(source).c_str(), L"Error", PromptIcon::Error);
      return;
    }
    source.m_nStartSector = 0;
    source.m_nSourceKind = kind;
    if (kind == SourceKind::LogicalDrive || kind == SourceKind::Partition) {
      SetUpSelectedVolume(source, entry, operation);
    }
  }

  if (!session.foundPartitions.empty() &&
      Ask(context, kSavePartitions, kInformation, PromptIcon::Information, PromptButtons::YesNo) ==
          PromptAnswer::Yes) {
    SendMessageW(context.frame, UM_SAVE_PARTITIONS, 0, 0);
  }
  if (kind == SourceKind::Partition && Ask(context, kAdvanceSearch, kInformation, PromptIcon::None,
                                           PromptButtons::YesNo) == PromptAnswer::Yes) {
    SelectFormats(context);
    return;
  }
  ToRouter(context, UM_SHOW_SCAN);
}

}  // namespace kavo::shell
