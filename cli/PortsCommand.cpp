// `veltrad-cli ports [--json]`: the serial devices that are present, what
// they are, which COM number reaches each, and for a device that none
// reaches, the [Ports] line that would.

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Json.h"
#include "cli/SettingsPorts.h"

#include "base/Utf8Path.h"
#include "serial/PortList.h"
#include "serial/PortMap.h"
#include "settings/Profile.h"

#include <cstdio>
#include <memory>
#include <string>

namespace veltrad::cli {

namespace {

struct PortsOptions {
    bool json = false;
    DeviceRoots roots;
};

// null for what the system did not say.
std::string JsonStringOrNull(const std::string& text) { return text.empty() ? "null" : JsonString(text); }

void PrintJson(const std::vector<SerialDeviceInfo>& devices, const std::vector<ComAssignment>& coms)
{
    std::printf("[");
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SerialDeviceInfo& d = devices[i];
        const std::string com = coms[i].com == 0 ? "null" : std::to_string(coms[i].com);
        std::printf("%s\n  {\"device\":%s,\"com\":%s,\"driver\":%s,\"vid\":%s,\"pid\":%s,\"manufacturer\":%s,"
                    "\"product\":%s,\"serial\":%s,\"by_id\":%s,\"by_path\":%s}",
                    i == 0 ? "" : ",", JsonStringOrNull(d.device).c_str(), com.c_str(),
                    JsonStringOrNull(d.driver).c_str(), JsonStringOrNull(d.vid).c_str(),
                    JsonStringOrNull(d.pid).c_str(), JsonStringOrNull(d.manufacturer).c_str(),
                    JsonStringOrNull(d.product).c_str(), JsonStringOrNull(d.serial).c_str(),
                    JsonStringOrNull(d.byId).c_str(), JsonStringOrNull(d.byPath).c_str());
    }
    std::printf("%s]\n", devices.empty() ? "" : "\n");
}

void PrintText(const std::vector<SerialDeviceInfo>& devices, const std::vector<ComAssignment>& coms,
               const std::string& settingsFile)
{
    if (devices.empty()) {
        std::printf("no serial devices found\n");
        return;
    }
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SerialDeviceInfo& d = devices[i];
        std::string line = d.device + "  " + (coms[i].com == 0 ? "no COM number" : "COM" + std::to_string(coms[i].com));
        const auto add = [&line](const std::string& part) {
            if (!part.empty())
                line += "  " + part;
        };
        add(d.driver);
        add(d.vid.empty() ? std::string() : d.vid + ":" + d.pid);
        if (const std::string what = DescribeDevice(d); what != d.driver)
            add(what);
        WriteText(stdout, line + "\n");
        if (!d.byId.empty())
            WriteText(stdout, "    by-id:   " + d.byId + "\n");
        if (!d.byPath.empty())
            WriteText(stdout, "    by-path: " + d.byPath + "\n");
        if (coms[i].suggestedCom != 0) {
            const std::string com = "COM" + std::to_string(coms[i].suggestedCom);
            WriteText(stdout, "    to reach it as " + com + ", add to [Ports] in " + settingsFile + ": " + com + "=" +
                                  coms[i].suggestedDevice + "\n");
        }
    }
}

int RunPorts(const PortsOptions& options)
{
    const CProfile profile(CProfile::DefaultPath());
    const std::vector<SerialDeviceInfo> devices = ListSerialDevices(options.roots);
    const std::vector<ComAssignment> coms = AssignComNumbers(devices, ReadPortMap(profile), options.roots);
    if (options.json)
        PrintJson(devices, coms);
    else
        PrintText(devices, coms, Utf8FromPath(profile.Path()));
    std::fflush(stdout);
    return kExitOk;
}

}  // namespace

void RegisterPortsCommand(CLI::App& app, int& exitCode)
{
    auto options = std::make_shared<PortsOptions>();
    CLI::App* cmd = app.add_subcommand("ports", "List the serial devices present and the COM number of each");
    cmd->add_flag("--json", options->json, "Print a JSON array of objects");
    // For tests: read a sysfs and a /dev tree of their own.
    cmd->add_option("--sys-root", options->roots.sys)->group("");
    cmd->add_option("--dev-root", options->roots.dev)->group("");
    cmd->callback([options, &exitCode] { exitCode = RunPorts(*options); });
}

}  // namespace veltrad::cli
