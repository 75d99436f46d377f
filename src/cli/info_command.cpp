#include "base/progress.h"
#include "cli/commands.h"
#include "cli/output.h"
#include "cli/source.h"
#include "disk/container.h"
#include "platform/text.h"

namespace kavo::cli {

int InfoCommand(const ParsedArgs& args) {
  const std::u16string& selector = args.positional[0];
  const std::unique_ptr<CDisk> disk = OpenSource(selector);
  if (!disk) return kExitFailed;

  const std::string size = SizeText(disk->m_nSectorSize, disk->m_nTotalSectors);
  // An image file holding a container is shown with the container's kind and facts.
  const auto* container = dynamic_cast<const VirtualDisk*>(disk->m_hDevice.get());
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
    Out(o.Str() + "\n");
    return kExitOk;
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
    text += container->Details();
  }
  Out(text);
  return kExitOk;
}

}  // namespace kavo::cli
