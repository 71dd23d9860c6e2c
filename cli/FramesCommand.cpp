// `veltrad-cli frames FILE`: a dry run that shows exactly what a download
// would send, frame by frame, without touching a port.

#include "cli/Commands.h"
#include "cli/Console.h"
#include "cli/StopSignals.h"

#include "image/DownloadImage.h"
#include "base/Utf8Path.h"

#include <cstdio>
#include <memory>
#include <string>

namespace veltrad::cli {

namespace {

struct FramesOptions {
    std::string file;
    bool hex = false;
};

void AppendHex(std::string& out, std::uint8_t byte)
{
    static constexpr char kDigits[] = "0123456789abcdef";
    out.push_back(kDigits[byte >> 4]);
    out.push_back(kDigits[byte & 0x0F]);
}

int Stopped()
{
    WriteText(stderr, "veltrad-cli: stopped\n");
    return kExitStopped;
}

int RunFrames(const FramesOptions& options)
{
    // A stop ends the listing, also while the file is read.
    const CStopSignals signals;
    CDownloadImage image;
    image.SetStopCheck([&signals] { return signals.Raised(); });
    image.SetFile(PathFromUtf8(options.file));
    ImageError error;
    if (!image.BuildFrames(&error)) {
        if (error.stopped)
            return Stopped();
        WriteText(stderr, "veltrad-cli: " + error.Message() + "\n");
        return kExitUsage;
    }

    std::string out = "size: " + image.m_strFileSize + "\n";
    for (const CPacket& packet : image.m_FrameList) {
        const auto& frame = packet.m_byFrame;
        if (options.hex) {
            for (std::uint8_t byte : frame)
                AppendHex(out, byte);
        } else {
            const std::uint32_t address = FrameAddress(frame);
            for (int shift = 24; shift >= 0; shift -= 8)
                AppendHex(out, static_cast<std::uint8_t>(address >> shift));
            out.push_back(' ');
            AppendHex(out, frame[kFrameChecksumOffset]);
        }
        out.push_back('\n');
        if (out.size() >= 1 << 16) {
            if (signals.Raised())
                return Stopped();
            // A write that a stop cut short is no full disk.
            if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size())
                return signals.Raised() ? Stopped() : kExitUsage;
            out.clear();
        }
    }
    // A listing that cannot be written is said once, by main.
    if (std::fwrite(out.data(), 1, out.size(), stdout) != out.size() || std::fflush(stdout) != 0)
        return signals.Raised() ? Stopped() : kExitUsage;
    return kExitOk;
}

}  // namespace

void RegisterFramesCommand(CLI::App& app, int& exitCode)
{
    auto options = std::make_shared<FramesOptions>();
    CLI::App* cmd =
        app.add_subcommand("frames", "Show the frames a download of FILE would send: address and checksum per frame");
    cmd->add_option("FILE", options->file, "Image file")->required();
    cmd->add_flag("--hex", options->hex, "Print each frame's 135 bytes as hex digits");
    cmd->callback([options, &exitCode] { exitCode = RunFrames(*options); });
}

}  // namespace veltrad::cli
