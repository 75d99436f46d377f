#include "base/progress.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/source.h"
#include "disk/container.h"
#include "disk/ewf.h"
#include "platform/text.h"

namespace kavo::cli {

namespace {

// Reads the whole disk of an EWF image and compares its MD5 with the one the image stores.
EwfVerification VerifyStoredMd5(CDisk& disk) {
  auto* container = dynamic_cast<VirtualDisk*>(disk.m_hDevice.get());
  if (!container) return EwfVerification{false, {}, {}, "not an EWF image"};
  return VerifyEwfMd5(*container);
}

}  // namespace

int InfoCommand(const ParsedArgs& args) {
  const std::u16string& selector = args.positional[0];
  const std::unique_ptr<CDisk> disk = OpenSource(selector);
  if (!disk) return kExitFailed;

  const std::string size = SizeText(disk->m_nSectorSize, disk->m_nTotalSectors);
  // An image file holding a container is shown with the container's kind and facts.
  const auto* container = dynamic_cast<const VirtualDisk*>(disk->m_hDevice.get());
  const bool verify = args.Has("--verify");
  const EwfVerification check = verify ? VerifyStoredMd5(*disk) : EwfVerification{};
  if (verify && !check.error.empty()) ErrorLine("cannot verify: " + check.error);
  const bool failed = verify && !check.matches;
  if (args.Has("--json")) {
    JsonObject o;
    o.Add("source", disk->GetName())
        .Add("kind", SourceKindName(disk->m_nSourceKind))
        .Add("sourceKind", static_cast<unsigned>(disk->m_nSourceKind))
        .Add("deviceType", disk->m_nDeviceType)
        .Add("bytesPerSector", disk->m_nSectorSize)
        .Add("sectors", disk->m_nTotalSectors)
        .Add("bytes", disk->m_nTotalSectors * disk->m_nSectorSize)
        .Add("size", size);
    if (container) {
      o.Add("container", container->Format()).Add("virtualBytes", container->VirtualSize());
    }
    if (verify && check.error.empty()) {
      o.Add("storedMd5", check.stored)
          .Add("computedMd5", check.computed)
          .AddBool("md5Matches", check.matches);
    }
    Out(o.Str() + "\n");
    return failed ? kExitFailed : kExitOk;
  }
  std::string text;
  text += "Source:         " + platform::Utf16ToUtf8(disk->GetName()) + "\n";
  text += std::string("Kind:           ") + SourceKindName(disk->m_nSourceKind) + "\n";
  text += "Device type:    " + std::to_string(disk->m_nDeviceType) + " (" +
          DeviceTypeName(disk->m_nDeviceType) + ")\n";
  text += "Sector size:    " + std::to_string(disk->m_nSectorSize) + " bytes\n";
  text += "Total sectors:  " + std::to_string(disk->m_nTotalSectors) + "\n";
  text += "Size:           " + size + "\n";
  if (container) {
    text += "Container:      " + container->Format() + "\n";
    text += "Virtual size:   " + std::to_string(container->VirtualSize()) + " bytes\n";
    const std::string details = container->Details();
    if (!details.empty()) text += details + (details.back() == '\n' ? "" : "\n");
  }
  if (verify && check.error.empty()) {
    text += "Computed MD5:   " + check.computed + "\n";
    text += check.matches ? "Verification:   matches the stored MD5\n"
                          : "Verification:   MISMATCH with the stored MD5\n";
  }
  Out(text);
  return failed ? kExitFailed : kExitOk;
}

}  // namespace kavo::cli
