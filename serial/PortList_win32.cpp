#include "serial/PortList.h"

#include "serial/DeviceRegistry_win32.h"

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <algorithm>
#include <cstdlib>

namespace veltrad {

namespace {

constexpr wchar_t kSerialCommKey[] = L"HARDWARE\\DEVICEMAP\\SERIALCOMM";
constexpr DWORD kTextChars = 256;

// The COM names the serial drivers have published: the values of SERIALCOMM.
std::vector<std::string> PublishedPorts()
{
    std::vector<std::string> names;
    HKEY key = nullptr;
    if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSerialCommKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return names;
    for (DWORD index = 0;; ++index) {
        wchar_t valueName[kTextChars] = {};
        wchar_t data[kTextChars] = {};
        DWORD nameChars = kTextChars;
        DWORD dataBytes = sizeof data - sizeof(wchar_t);
        DWORD type = 0;
        const LONG rc = ::RegEnumValueW(key, index, valueName, &nameChars, nullptr, &type,
                                        reinterpret_cast<BYTE*>(data), &dataBytes);
        if (rc == ERROR_NO_MORE_ITEMS)
            break;
        if (rc != ERROR_SUCCESS || type != REG_SZ)
            continue;
        char narrow[kTextChars] = {};
        ::WideCharToMultiByte(CP_UTF8, 0, data, -1, narrow, sizeof narrow - 1, nullptr, nullptr);
        if (std::string name = NormalPortName(narrow); !name.empty())
            names.push_back(std::move(name));
    }
    ::RegCloseKey(key);
    return names;
}

unsigned PortNumber(const std::string& name)
{
    return static_cast<unsigned>(std::strtoul(name.c_str() + 3, nullptr, 10));
}

// The four hex digits after "VID_" or "PID_" in a hardware or instance id.
std::string IdAfter(const std::string& id, const char* tag)
{
    const auto at = id.find(tag);
    if (at == std::string::npos || at + 8 > id.size())
        return {};
    std::string digits = id.substr(at + 4, 4);
    std::transform(digits.begin(), digits.end(), digits.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return digits;
}

// The serial number inside an instance id: the serial and a port letter in
// FTDI's "FTDIBUS\VID_0403+PID_6001+A50285BIA\0000", the last part of USB's
// "USB\VID_0403&PID_6001\A50285BI". Windows makes up a last part with '&'
// in it for a device without a serial number.
std::string SerialOf(const RegistryPort& port)
{
    const std::string& id = port.instanceId;
    if (port.enumerator == "FTDIBUS") {
        const auto plus = id.rfind('+');
        const auto slash = id.find('\\', plus == std::string::npos ? 0 : plus);
        if (plus == std::string::npos || slash == std::string::npos || slash < plus + 3)
            return {};
        return id.substr(plus + 1, slash - plus - 2);
    }
    const auto slash = id.rfind('\\');
    if (port.enumerator != "USB" || slash == std::string::npos || id.find('&', slash) != std::string::npos)
        return {};
    return id.substr(slash + 1);
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
        SerialDeviceInfo info;
        info.device = name;
        const auto it = std::find_if(registry.begin(), registry.end(),
                                     [&](const RegistryPort& p) { return p.portName == name; });
        if (it != registry.end()) {
            info.driver = it->enumerator == "FTDIBUS" ? it->enumerator : it->service;
            info.vid = IdAfter(it->hardwareId + " " + it->instanceId, "VID_");
            info.pid = IdAfter(it->hardwareId + " " + it->instanceId, "PID_");
            info.manufacturer = it->manufacturer;
            info.product = it->busDescription;
            info.serial = SerialOf(*it);
            info.friendlyName = it->friendlyName;
        }
        devices.push_back(std::move(info));
    }
    return devices;
}

bool NamesDevice(const std::string& configured, const SerialDeviceInfo& device, const DeviceRoots&)
{
    const std::string name = NormalPortName(configured);
    return !name.empty() && name == NormalPortName(device.device);
}

}  // namespace veltrad
