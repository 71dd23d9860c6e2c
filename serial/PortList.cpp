#include "serial/PortList.h"

#include "serial/PortMap.h"

#include <set>

namespace veltrad {

std::string DescribeDevice(const SerialDeviceInfo& device)
{
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (part.empty())
            return;
        if (!text.empty())
            text += ", ";
        text += part;
    };
    add(device.product);
    add(device.manufacturer);
    if (!device.serial.empty())
        add("serial " + device.serial);
    if (text.empty())
        add(device.friendlyName);
    if (text.empty())
        add(device.driver);
    return text;
}

std::vector<ComAssignment> AssignComNumbers(const std::vector<SerialDeviceInfo>& devices, const CPortMap& ports,
                                            const DeviceRoots& roots)
{
    std::vector<ComAssignment> result(devices.size());
    std::set<std::uint16_t> taken;  // numbers an override or a present device already uses
    for (std::uint16_t port = kFirstPort; port <= kLastPort; ++port) {
        if (ports.Overridden(port))
            taken.insert(port);
        const auto configured = ports.Device(port);
        if (!configured)
            continue;
        for (std::size_t i = 0; i < devices.size(); ++i) {
            if (!NamesDevice(*configured, devices[i], roots))
                continue;
            taken.insert(port);
            if (result[i].com == 0)
                result[i].com = port;
        }
    }
    std::uint16_t next = kFirstPort;
    for (std::size_t i = 0; i < devices.size(); ++i) {
        if (result[i].com != 0)
            continue;
        while (next <= kLastPort && taken.count(next) != 0)
            ++next;
        if (next > kLastPort)
            break;  // fifty numbers in use: nothing left to suggest
        const SerialDeviceInfo& d = devices[i];
        result[i].suggestedCom = next++;
        result[i].suggestedDevice = !d.byPath.empty() ? d.byPath : !d.byId.empty() ? d.byId : d.device;
    }
    return result;
}

}  // namespace veltrad
