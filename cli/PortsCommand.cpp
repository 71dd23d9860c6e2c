// `veltrad-cli ports [--json]`: the serial devices that are present, what
// they are, which COM number reaches each, and for a device that none
// reaches, the [Ports] line that would.

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/Json.h"
#include "cli/SettingsPorts.h"
#include "cli/StopSignals.h"

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
    std::string out = "[";
    for (std::size_t i = 0; i < devices.size(); ++i) {
        const SerialDeviceInfo& d = devices[i];
        const std::string com = coms[i].com == 0 ? "null" : std::to_string(coms[i].com);
        out += std::string(i == 0 ? "" : ",") + "\n  {\"device\":" + JsonStringOrNull(d.device) + ",\"com\":" + com +
               ",\"driver\":" + JsonStringOrNull(d.driver) + ",\"vid\":" + JsonStringOrNull(d.vid) +
               ",\"pid\":" + JsonStringOrNull(d.pid) + ",\"manufacturer\":" + JsonStringOrNull(d.manufacturer) +
               ",\"product\":" + JsonStringOrNull(d.product) + ",\"serial\":" + JsonStringOrNull(d.serial) +
               ",\"by_id\":" + JsonStringOrNull(d.byId) + ",\"by_path\":" + JsonStringOrNull(d.byPath) + "}";
    }
    WriteText(stdout, out + (devices.empty() ? "" : "\n") + "]\n");
}

// One line of text, what the system named in it escaped as in the JSON.
void Say(const std::string& line) { WriteText(stdout, TerminalText(line) + "\n"); }

void PrintText(const std::vector<SerialDeviceInfo>& devices, const std::vector<ComAssignment>& coms,
               const std::string& settingsFile)
{
    if (devices.empty()) {
        Say("no serial devices found");
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
        Say(line);
        if (!d.byId.empty())
            Say("    by-id:   " + d.byId);
        if (!d.byPath.empty())
            Say("    by-path: " + d.byPath);
        if (coms[i].suggestedCom != 0) {
            const std::string com = "COM" + std::to_string(coms[i].suggestedCom);
            const std::string where = settingsFile.empty() ? "the settings file (none without HOME)" : settingsFile;
            Say("    to reach it as " + com + ", add to [Ports] in " + where + ": " + com + "=" +
                coms[i].suggestedDevice);
        }
    }
}

int RunPorts(const PortsOptions& options)
{
    const CStopSignals signals;
    const CProfile profile(CProfile::DefaultPath());
    const std::vector<SerialDeviceInfo> devices = ListSerialDevices(options.roots);
    const std::vector<ComAssignment> coms = AssignComNumbers(devices, ReadPortMap(profile), options.roots);
    if (signals.Raised()) {
        WriteText(stderr, "veltrad-cli: stopped\n");
        return kExitStopped;
    }
    if (options.json)
        PrintJson(devices, coms);
    else
        PrintText(devices, coms, Utf8FromPath(profile.Path()));
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
