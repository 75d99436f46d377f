// Drives and volumes from WMI (ROOT\CIMV2, Win32_DiskDrive and Win32_LogicalDisk), the volume
// functions of the system, and SMART through the SMART device controls.
#include <wbemidl.h>
#include <windows.h>
#include <winioctl.h>

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/drives.h"
#include "platform/smart_commands.h"
#include "platform/text.h"

namespace kavo::platform {

namespace {

const wchar_t* Wide(const std::u16string& s) {
  return reinterpret_cast<const wchar_t*>(s.c_str());
}

std::u16string Hex(HRESULT hr) {
  char text[16];
  std::snprintf(text, sizeof text, "%lx", static_cast<unsigned long>(hr));
  return Widen(text);
}

// A WMI property, or nothing when the object lacks it or holds null.
struct Property {
  bool present = false;
  std::u16string text;
  uint64_t number = 0;
};

Property Get(IWbemClassObject* object, const wchar_t* name) {
  Property p;
  VARIANT v;
  VariantInit(&v);
  if (FAILED(object->Get(name, 0, &v, nullptr, nullptr))) return p;
  switch (v.vt) {
    case VT_BSTR:
      p.present = v.bstrVal != nullptr;
      if (p.present) {
        p.text.assign(reinterpret_cast<const char16_t*>(v.bstrVal), SysStringLen(v.bstrVal));
        // WMI gives 64-bit numbers (Size) as text.
        p.number = wcstoull(v.bstrVal, nullptr, 10);
      }
      break;
    case VT_I4:
    case VT_UI4:
      p.present = true;
      p.number = v.vt == VT_I4 ? static_cast<uint64_t>(static_cast<uint32_t>(v.lVal)) : v.ulVal;
      break;
    case VT_I2:
    case VT_UI1:
      p.present = true;
      p.number = v.vt == VT_I2 ? static_cast<uint16_t>(v.iVal) : v.bVal;
      break;
    default: break;  // VT_NULL, VT_EMPTY: the property holds nothing
  }
  VariantClear(&v);
  return p;
}

// One WQL query over ROOT\CIMV2 on this thread's COM apartment; `each` is called per object.
// Failures are told with their quoted texts and end the walk with what it has.
template <typename Each>
void Query(const wchar_t* wql, const std::u16string& blanketCaption, SystemNotices& notices,
           Each each) {
  const std::u16string caption = u"Kavo (NTFS)";
  const HRESULT init = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  if (FAILED(init)) {
    notices.push_back({u"Kavo Failed to initialize COM library", u"Information", false});
    return;
  }
  IWbemLocator* locator = nullptr;
  IWbemServices* services = nullptr;
  IEnumWbemClassObject* objects = nullptr;
  HRESULT hr = CoCreateInstance(CLSID_WbemLocator, nullptr, CLSCTX_INPROC_SERVER, IID_IWbemLocator,
                                reinterpret_cast<void**>(&locator));
  if (FAILED(hr)) {
    notices.push_back({u"Failed to create IWbemLocator object", caption, false});
  } else {
    BSTR space = SysAllocString(L"ROOT\\CIMV2");
    hr = locator->ConnectServer(space, nullptr, nullptr, nullptr, 0, nullptr, nullptr, &services);
    SysFreeString(space);
    if (FAILED(hr)) {
      notices.push_back({u"Could not connect. Error code = 0x" + Hex(hr), caption, false});
    } else {
      hr = CoSetProxyBlanket(services, RPC_C_AUTHN_WINNT, RPC_C_AUTHZ_NONE, nullptr,
                             RPC_C_AUTHN_LEVEL_CALL, RPC_C_IMP_LEVEL_IMPERSONATE, nullptr,
                             EOAC_NONE);
      if (FAILED(hr)) {
        notices.push_back(
            {u"Could not set proxy blanket. Error code 0x" + Hex(hr), blanketCaption, false});
      } else {
        BSTR language = SysAllocString(L"WQL");
        BSTR text = SysAllocString(wql);
        hr = services->ExecQuery(language, text,
                                 WBEM_FLAG_FORWARD_ONLY | WBEM_FLAG_RETURN_IMMEDIATELY, nullptr,
                                 &objects);
        SysFreeString(language);
        SysFreeString(text);
        while (SUCCEEDED(hr) && objects != nullptr) {
          IWbemClassObject* object = nullptr;
          ULONG returned = 0;
          if (objects->Next(WBEM_INFINITE, 1, &object, &returned) != WBEM_S_NO_ERROR ||
              returned == 0) {
            break;
          }
          each(object);
          object->Release();
        }
      }
    }
  }
  if (objects) objects->Release();
  if (services) services->Release();
  if (locator) locator->Release();
  CoUninitialize();
}

struct OsVersion {
  bool known = false;
  DWORD major = 0, minor = 0;
};

// The true version (GetVersionEx reports 6.2 to programs without a manifest saying otherwise).
OsVersion SystemVersion() {
  using RtlGetVersionFn = LONG(WINAPI*)(OSVERSIONINFOW*);
  OsVersion v;
  HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
  FARPROC proc = ntdll ? GetProcAddress(ntdll, "RtlGetVersion") : nullptr;
  if (proc == nullptr) return v;
  OSVERSIONINFOW info{};
  info.dwOSVersionInfoSize = sizeof info;
  const auto getVersion = reinterpret_cast<RtlGetVersionFn>(reinterpret_cast<void (*)()>(proc));
  if (getVersion(&info) != 0) return v;
  v.known = true;
  v.major = info.dwMajorVersion;
  v.minor = info.dwMinorVersion;
  return v;
}

HANDLE OpenDrive(const std::u16string& name, DWORD access, DWORD attributes) {
  return CreateFileW(Wide(name), access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                     attributes, nullptr);
}

// The disk size from IOCTL_DISK_GET_DRIVE_GEOMETRY_EX (bytes 24-31 of its 40-byte answer), and
// whether the drive sits on the NVMe bus. False when the drive cannot be opened or asked.
bool AskDrive(const std::u16string& name, uint64_t& size, bool& nvme, SystemNotices& notices) {
  HANDLE h = OpenDrive(name, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return false;
  uint8_t geometry[40] = {};
  DWORD got = 0;
  const bool ok = DeviceIoControl(h, IOCTL_DISK_GET_DRIVE_GEOMETRY_EX, nullptr, 0, geometry,
                                  sizeof geometry, &got, nullptr) != 0 &&
                  got >= 32;
  if (ok) {
    std::memcpy(&size, geometry + 24, sizeof size);
  } else {
    notices.push_back(
        {u"Error accessing device " + Widen(std::to_string(GetLastError())), u"Error", true});
  }
  STORAGE_PROPERTY_QUERY query{};
  query.PropertyId = StorageDeviceProperty;
  query.QueryType = PropertyStandardQuery;
  STORAGE_DEVICE_DESCRIPTOR descriptor{};
  if (DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, &query, sizeof query, &descriptor,
                      sizeof descriptor, &got, nullptr) &&
      got >= offsetof(STORAGE_DEVICE_DESCRIPTOR, BusType) + sizeof descriptor.BusType) {
    nvme = descriptor.BusType == static_cast<STORAGE_BUS_TYPE>(17);  // BusTypeNvme
  }
  CloseHandle(h);
  return ok;
}

// SMART READ DATA or READ THRESHOLDS: `outputBytes` of SENDCMDOUTPARAMS, the data after its
// 16-byte head.
bool SmartRead(HANDLE h, uint8_t features, uint8_t drive, DWORD outputBytes,
               std::array<uint8_t, 512>& data) {
  std::array<uint8_t, 33> in = SmartCommandInput(features, 512, drive);
  std::vector<uint8_t> out(outputBytes);
  DWORD got = 0;
  return DeviceIoControl(h, SMART_RCV_DRIVE_DATA, in.data(), in.size(), out.data(), outputBytes,
                         &got, nullptr) &&
         SmartReplyData(out, got, data);
}

}  // namespace

std::vector<PhysicalDriveInfo> ListPhysicalDrives(SystemNotices& notices) {
  std::vector<PhysicalDriveInfo> drives;
  const OsVersion version = SystemVersion();
  if (!version.known) {
    notices.push_back(
        {u"Error getting OS version " + Widen(std::to_string(GetLastError())), u"Error", true});
    return drives;
  }
  Query(L"SELECT * FROM Win32_DiskDrive", u"Kavo (NTFS)", notices, [&](IWbemClassObject* o) {
    PhysicalDriveInfo d;
    d.name = Get(o, L"Name").text;
    d.caption = Get(o, L"Caption").text;
    d.model = Get(o, L"Model").text;
    d.mediaType = Get(o, L"MediaType").text;
    d.interfaceType = Get(o, L"InterfaceType").text;
    d.status = Get(o, L"Status").text;
    d.index = static_cast<uint32_t>(Get(o, L"Index").number);
    d.removable = d.mediaType.find(u"Removable") != std::u16string::npos;
    const Property bytesPerSector = Get(o, L"BytesPerSector");
    d.bytesPerSector = bytesPerSector.present ? static_cast<uint32_t>(bytesPerSector.number) : 0;
    const Property serial = Get(o, L"SerialNumber");
    const bool usb = d.interfaceType == u"USB";
    if (serial.present && !(usb && version.major == 5 && version.minor > 1)) {
      d.serialNumber = serial.text;
      d.serialHexEncoded = !usb && (version.major < 6 || (version.major == 6 && version.minor < 2));
    }
    const uint64_t wmiSize = Get(o, L"Size").number;
    d.size = wmiSize;
    if (!d.name.empty() && d.bytesPerSector != 0) {
      uint64_t size = 0;
      if (AskDrive(d.name, size, d.nvme, notices)) d.size = size;
    }
    drives.push_back(std::move(d));
  });
  return drives;
}

std::vector<VolumeInfo> ListVolumes(SystemNotices& notices, VolumeQuery query) {
  std::vector<VolumeInfo> volumes;
  const std::u16string blanketCaption = query == VolumeQuery::Records ? u"Velmar" : u"Kavo (NTFS)";
  Query(L"SELECT * FROM Win32_LogicalDisk", blanketCaption, notices, [&](IWbemClassObject* o) {
    VolumeInfo v;
    v.caption = Get(o, L"Caption").text;
    if (v.caption.empty()) return;
    const std::u16string root = v.caption + u"\\";
    const UINT type = GetDriveTypeW(Wide(root));
    v.removable = type == DRIVE_CDROM || type == DRIVE_REMOVABLE;
    v.size = Get(o, L"Size").number;
    v.volumeName = Get(o, L"VolumeName").text;
    v.fileSystem = Get(o, L"FileSystem").text;
    const std::u16string name = Get(o, L"Name").text;
    v.name = name.empty() ? root : name + u"\\";
    v.devicePath = v.caption;
    DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
    if (GetDiskFreeSpaceW(Wide(root), &sectorsPerCluster, &bytesPerSector, &freeClusters,
                          &clusters)) {
      v.sectorsPerCluster = sectorsPerCluster;
      v.bytesPerSector = bytesPerSector;
    }
    ULARGE_INTEGER available{}, total{}, free{};
    if (GetDiskFreeSpaceExW(Wide(root), &available, &total, &free)) v.totalBytes = total.QuadPart;
    DWORD serial = 0;
    if (GetVolumeInformationW(Wide(v.name), nullptr, 0, &serial, nullptr, nullptr, nullptr, 0)) {
      v.serialNumber = serial;
    }
    volumes.push_back(std::move(v));
  });
  return volumes;
}

bool ReadSmartBlocks(const PhysicalDriveInfo& drive, SmartBlocks& blocks) {
  const uint8_t n = static_cast<uint8_t>(drive.index);
  HANDLE h = OpenDrive(u"\\\\.\\PHYSICALDRIVE" + Widen(std::to_string(n)),
                       GENERIC_READ | GENERIC_WRITE, FILE_ATTRIBUTE_SYSTEM);
  if (h == INVALID_HANDLE_VALUE) return false;
  GETVERSIONINPARAMS version{};
  DWORD got = 0;
  bool ok =
      DeviceIoControl(h, SMART_GET_VERSION, nullptr, 0, &version, sizeof version, &got, nullptr) &&
      (version.fCapabilities & CAP_SMART_CMD) != 0;
  if (ok) {
    std::array<uint8_t, 33> in = SmartCommandInput(kSmartEnable, 0, n);
    uint8_t out[17] = {};
    ok = DeviceIoControl(h, SMART_SEND_DRIVE_COMMAND, in.data(), in.size(), out, sizeof out, &got,
                         nullptr);
  }
  if (ok) {
    blocks.attributesRead = SmartRead(h, kSmartReadData, n, 529, blocks.attributes);
    blocks.thresholdsRead = SmartRead(h, kSmartReadThresholds, n, 528, blocks.thresholds);
  }
  CloseHandle(h);
  return ok;
}

bool ReadNvmeHealthLog(const PhysicalDriveInfo& drive, std::array<uint8_t, 512>& log) {
  HANDLE h = OpenDrive(drive.name, GENERIC_READ, FILE_ATTRIBUTE_NORMAL);
  if (h == INVALID_HANDLE_VALUE) return false;
  std::array<uint8_t, kNvmeQueryBytes> buffer = NvmeHealthQuery();
  DWORD got = 0;
  const bool ok = DeviceIoControl(h, IOCTL_STORAGE_QUERY_PROPERTY, buffer.data(), buffer.size(),
                                  buffer.data(), buffer.size(), &got, nullptr) != 0;
  CloseHandle(h);
  return ok && NvmeHealthReply(buffer, got, log);
}

}  // namespace kavo::platform
