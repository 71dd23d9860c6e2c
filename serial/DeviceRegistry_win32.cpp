#include "serial/DeviceRegistry_win32.h"

#include "base/NoCase.h"
#include "platform/Utf16_win32.h"
#include "platform/Windows_win32.h"
#include "serial/PortMap.h"

#include <setupapi.h>
#include <devpropdef.h>

#include <algorithm>
#include <cctype>
#include <vector>

namespace veltrad {

namespace {

// The Ports (COM and LPT) device class, {4D36E978-E325-11CE-BFC1-08002BE10318}.
const GUID kPortsClass = {0x4D36E978, 0xE325, 0x11CE, {0xBF, 0xC1, 0x08, 0x00, 0x2B, 0xE1, 0x03, 0x18}};
// DEVPKEY_Device_BusReportedDeviceDesc: the USB device's own product string.
const DEVPROPKEY kBusReportedDeviceDesc = {
    {0x540B947E, 0x8B40, 0x45BC, {0xA8, 0xA2, 0x6A, 0x0B, 0x89, 0x4C, 0xBD, 0xA2}}, 4};
// DEVPKEY_Device_Parent: the instance id of the device above.
const DEVPROPKEY kParent = {{0x4340A6C5, 0x93FA, 0x4706, {0x97, 0x2C, 0x7B, 0x64, 0x80, 0x08, 0xA5, 0xA7}}, 8};
constexpr char kFtdiEnumerator[] = "FTDIBUS";
// USB port, hub, controller: a location is found within a few steps up.
constexpr int kMaxLocationSteps = 4;
constexpr DWORD kTextChars = 512;

std::string Utf8(const wchar_t* text) { return Narrow(text); }

class CDeviceList {
public:
    CDeviceList() : m_set(::SetupDiGetClassDevsW(&kPortsClass, nullptr, nullptr, DIGCF_PRESENT)) {}
    ~CDeviceList()
    {
        if (Valid())
            ::SetupDiDestroyDeviceInfoList(m_set);
    }
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;
    bool Valid() const { return m_set != INVALID_HANDLE_VALUE; }
    HDEVINFO Get() const { return m_set; }

private:
    HDEVINFO m_set;
};

class CRegKey {
public:
    explicit CRegKey(HKEY key) : m_key(key) {}
    ~CRegKey()
    {
        if (Valid())
            ::RegCloseKey(m_key);
    }
    CRegKey(const CRegKey&) = delete;
    CRegKey& operator=(const CRegKey&) = delete;
    bool Valid() const { return m_key != nullptr && m_key != INVALID_HANDLE_VALUE; }

    std::string String(const wchar_t* name) const
    {
        wchar_t text[kTextChars] = {};
        DWORD type = 0;
        DWORD size = sizeof text - sizeof(wchar_t);  // room for a terminator the value may lack
        if (::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &size) != ERROR_SUCCESS ||
            type != REG_SZ)
            return {};
        return Utf8(text);
    }
    std::optional<int> Dword(const wchar_t* name) const
    {
        DWORD value = 0;
        DWORD type = 0;
        DWORD size = sizeof value;
        if (::RegQueryValueExW(m_key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
            type != REG_DWORD)
            return std::nullopt;
        return static_cast<int>(value);
    }

private:
    HKEY m_key;
};

// A text property of the device; the first string of a list.
std::string Property(HDEVINFO set, SP_DEVINFO_DATA& data, DWORD property)
{
    wchar_t text[kTextChars] = {};
    if (!::SetupDiGetDeviceRegistryPropertyW(set, &data, property, nullptr, reinterpret_cast<BYTE*>(text),
                                             sizeof text - 2 * sizeof(wchar_t), nullptr))
        return {};
    return Utf8(text);
}

std::string BusDescription(HDEVINFO set, SP_DEVINFO_DATA& data)
{
    wchar_t text[kTextChars] = {};
    DEVPROPTYPE type = 0;
    if (!::SetupDiGetDevicePropertyW(set, &data, &kBusReportedDeviceDesc, &type, reinterpret_cast<BYTE*>(text),
                                     sizeof text - sizeof(wchar_t), nullptr, 0) ||
        type != DEVPROP_TYPE_STRING)
        return {};
    return Utf8(text);
}

// The instance id of the device above; false at the top or when unknown.
bool ParentId(HDEVINFO set, SP_DEVINFO_DATA& data, std::wstring& parent)
{
    wchar_t text[kTextChars] = {};
    DEVPROPTYPE type = 0;
    if (!::SetupDiGetDevicePropertyW(set, &data, &kParent, &type, reinterpret_cast<BYTE*>(text),
                                     sizeof text - sizeof(wchar_t), nullptr, 0) ||
        type != DEVPROP_TYPE_STRING || text[0] == L'\0')
        return false;
    parent = text;
    return true;
}

// The port's own location path, or that of the nearest device above it.
std::string Location(HDEVINFO set, SP_DEVINFO_DATA& data)
{
    std::string location = Property(set, data, SPDRP_LOCATION_PATHS);
    std::wstring parent;
    if (!location.empty() || !ParentId(set, data, parent))
        return location;
    const HDEVINFO above = ::SetupDiCreateDeviceInfoList(nullptr, nullptr);
    if (above == INVALID_HANDLE_VALUE)
        return {};
    for (int step = 0; step < kMaxLocationSteps && location.empty(); ++step) {
        SP_DEVINFO_DATA device{};
        device.cbSize = sizeof device;
        if (!::SetupDiOpenDeviceInfoW(above, parent.c_str(), nullptr, 0, &device))
            break;
        location = Property(above, device, SPDRP_LOCATION_PATHS);
        if (location.empty() && !ParentId(above, device, parent))
            break;
    }
    ::SetupDiDestroyDeviceInfoList(above);
    return location;
}

std::string InstanceId(HDEVINFO set, SP_DEVINFO_DATA& data)
{
    wchar_t text[kTextChars] = {};
    if (!::SetupDiGetDeviceInstanceIdW(set, &data, text, kTextChars - 1, nullptr))
        return {};
    return Utf8(text);
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
    if (EqualsNoCase(port.enumerator, kFtdiEnumerator)) {
        const auto plus = id.rfind('+');
        const auto slash = id.find('\\', plus == std::string::npos ? 0 : plus);
        if (plus == std::string::npos || slash == std::string::npos || slash < plus + 3)
            return {};
        return id.substr(plus + 1, slash - plus - 2);
    }
    const auto slash = id.rfind('\\');
    if (!EqualsNoCase(port.enumerator, "USB") || slash == std::string::npos || id.find('&', slash) != std::string::npos)
        return {};
    return id.substr(slash + 1);
}

}  // namespace

std::vector<RegistryPort> ReadRegistryPorts()
{
    std::vector<RegistryPort> ports;
    const CDeviceList list;
    if (!list.Valid())
        return ports;
    for (DWORD index = 0;; ++index) {
        SP_DEVINFO_DATA data{};
        data.cbSize = sizeof data;
        if (!::SetupDiEnumDeviceInfo(list.Get(), index, &data))
            break;
        // The device's parameters ("Device Parameters"): PortName, and
        // LatencyTimer under FTDI's driver.
        const CRegKey parameters(::SetupDiOpenDevRegKey(list.Get(), &data, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ));
        if (!parameters.Valid())
            continue;
        RegistryPort port;
        port.portName = NormalPortName(parameters.String(L"PortName"));
        if (port.portName.empty())
            continue;  // a printer port
        port.friendlyName = Property(list.Get(), data, SPDRP_FRIENDLYNAME);
        port.busDescription = BusDescription(list.Get(), data);
        port.manufacturer = Property(list.Get(), data, SPDRP_MFG);
        port.enumerator = Property(list.Get(), data, SPDRP_ENUMERATOR_NAME);
        port.service = Property(list.Get(), data, SPDRP_SERVICE);
        port.hardwareId = Property(list.Get(), data, SPDRP_HARDWAREID);
        port.instanceId = InstanceId(list.Get(), data);
        port.latencyTimerMs = parameters.Dword(L"LatencyTimer");
        port.location = Location(list.Get(), data);
        ports.push_back(std::move(port));
    }
    return ports;
}

std::string NormalPortName(const std::string& device)
{
    const auto number = ParseComName(device);
    return number ? "COM" + std::to_string(*number) : std::string();
}

SerialDeviceInfo DescribeRegistryPort(const RegistryPort& port)
{
    SerialDeviceInfo info;
    info.device = port.portName;
    info.driver = EqualsNoCase(port.enumerator, kFtdiEnumerator) ? kFtdiEnumerator : port.service;
    const std::string ids = port.hardwareId + " " + port.instanceId;
    info.vid = IdAfter(ids, "VID_");
    info.pid = IdAfter(ids, "PID_");
    info.manufacturer = port.manufacturer;
    info.product = port.busDescription;
    info.serial = SerialOf(port);
    info.friendlyName = port.friendlyName;
    info.location = port.location;
    return info;
}

void DropSharedLocations(std::vector<SerialDeviceInfo>& devices)
{
    std::vector<std::string> shared;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        for (std::size_t j = i + 1; j < devices.size(); ++j) {
            if (!devices[i].location.empty() && devices[i].location == devices[j].location)
                shared.push_back(devices[i].location);
        }
    }
    for (SerialDeviceInfo& device : devices) {
        if (std::find(shared.begin(), shared.end(), device.location) != shared.end())
            device.location.clear();
    }
}

AdapterInfo ReadAdapterInfo(const std::string& device)
{
    AdapterInfo info;
    const std::string name = NormalPortName(device);
    if (name.empty())
        return info;
    for (const RegistryPort& port : ReadRegistryPorts()) {
        if (port.portName != name)
            continue;
        if (EqualsNoCase(port.enumerator, kFtdiEnumerator)) {
            info.driver = kFtdiEnumerator;
            info.latencyTimerMs = port.latencyTimerMs;
        } else {
            info.driver = port.service;
        }
        break;
    }
    return info;
}

}  // namespace veltrad
