#include "serial/PortList.h"

#include "platform/Utf16_win32.h"
#include "platform/Windows_win32.h"
#include "serial/DeviceRegistry_win32.h"

#include <algorithm>
#include <cstdlib>

namespace veltrad {

namespace {

constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kListTextChars = 256;

// The COM names the serial drivers have published: the values of SERIALCOMM.
std::vector<std::string> PublishedPorts()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[kListTextChars] = {};
        wchar_t data[kListTextChars] = {};
        DWORD nameChars = kListTextChars;
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, index, valueName, &nameChars, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        if (std::string name = NormalPortName(Narrow(data)); !name.empty())
            names.push_back(std::move(name));
    }
    ::RegCloseKey(key);
    return names;
}

unsigned PortNumber(const std::string& name)
{
    return static_cast<unsigned>(std::strtoul(name.c_str() + 3, nullptr, 10));
}

}  // namespace

std::vector<SerialDeviceInfo> ListSerialDevices(const DeviceRoots&)
{
    std::vector<std::string> names = PublishedPorts();
    std::sort(names.begin(), names.end(),
              [](const std::string& a, const std::string& b) { return PortNumber(a) < PortNumber(b); });
    names.erase(std::unique(names.begin(), names.end()), names.end());
    const std::vector<RegistryPort> registry = ReadRegistryPorts();
    std::vector<SerialDeviceInfo> devices;
    for (const std::string& name : names) {
        const auto it =
            std::find_if(registry.begin(), registry.end(), [&](const RegistryPort& p) { return p.portName == name; });
        SerialDeviceInfo info = it != registry.end() ? DescribeRegistryPort(*it) : SerialDeviceInfo{};
        info.device = name;
        devices.push_back(std::move(info));
    }
    DropSharedLocations(devices);
    return devices;
}

bool NamesDevice(const std::string& configured, const SerialDeviceInfo& device, const DeviceRoots&)
{
    const std::string name = NormalPortName(configured);
    return !name.empty() && name == NormalPortName(device.device);
}

}  // namespace veltrad
