#pragma once
// The serial port object: owns one serial device for a download run or a
// test-open. Despite its name it runs no thread; each call runs on its
// caller's thread. One implementation per platform, chosen by the build.

#include "image/Wire.h"
#include "serial/Port.h"
#include "serial/PortMap.h"

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <utility>

namespace veltrad {

// DCB-style codes, as the callers pass them.
inline constexpr std::uint8_t kNoParity = 0;
inline constexpr std::uint8_t kOneStopBit = 0;

inline constexpr std::uint32_t kQueueSize = 4096;  // bytes, each direction
inline constexpr std::uint32_t kWriteTimeoutPerByteMs = 1;
inline constexpr std::uint32_t kWriteTimeoutConstantMs = 1000;

// Who holds output back while the terminal's XOFF is in force.
enum class XoffHandling {
    Auto,     // the driver, where it acts on XOFF; the port object for the
              // drivers that do not (Linux: ch341, cdc_acm; Windows: those
              // that refuse XON/XOFF or read it back off)
    Backend,  // the port object, whatever the driver (tests use it on
              // pseudo-terminals and on Wine's COM ports)
};

class CCommThread final : public ISerialPort {
public:
    // `ports` says which device each port number opens; the built-in
    // devices when none is given.
    explicit CCommThread(CPortMap ports = {});
    ~CCommThread() override;
    CCommThread(const CCommThread&) = delete;
    CCommThread& operator=(const CCommThread&) = delete;

    // Opens the device that the port map gives port number `port` (COM1 = 1
    // ... COM50 = 50) exclusively and applies the line settings. Port 0 and
    // numbers above 50 name no device.
    bool OpenPort(std::uint16_t port, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                  std::uint8_t stopBits) override;

    // Same as OpenPort, on a device given by its path (a Linux device node
    // or a Windows device name).
    bool OpenDevice(const std::string& device, std::uint32_t baudRate, std::uint8_t dataBits, std::uint8_t parity,
                    std::uint8_t stopBits) override;

    void ClosePort() override;
    std::uint32_t ReadComm(std::uint8_t* buffer, std::uint32_t count) override;
    std::uint32_t WriteComm(const std::uint8_t* buffer, std::uint32_t count) override;
    std::uint32_t WriteTransmission(const std::uint8_t* buffer, std::uint32_t count) override;
    bool WaitForInput(std::chrono::milliseconds timeout) override;
    bool IsConnected() const override { return m_bConnected.load(); }
    bool DeviceGone() const override;

    // Why the latest OpenPort/OpenDevice failed ("no such device", "in use
    // by another program", ...); reason None after success.
    PortError LastPortError() const override;

    // The device the latest OpenPort/OpenDevice used (e.g. /dev/ttyUSB0).
    std::string DevicePath() const override;

    // Driver and latency timer of the adapter behind the latest successful
    // open, and whether it took the low-latency request.
    AdapterInfo Adapter() const override;

    // Both apply from the next open; call while the port is closed.
    void SetXoffHandling(XoffHandling how) { m_xoffHandling = how; }
    void SetPortMap(CPortMap ports) { m_ports = std::move(ports); }

    std::atomic<bool> m_bConnected{false};
    std::string m_strPortName;  // the device the latest open used; "COM%d" for a number that names none

private:
    enum class EarlierInput { Keep, Drop };
    std::uint32_t Write(const std::uint8_t* buffer, std::uint32_t count, EarlierInput earlier);

    XoffHandling m_xoffHandling = XoffHandling::Auto;
    CPortMap m_ports;
    struct Impl;
    std::unique_ptr<Impl> m_impl;
};

}  // namespace veltrad
