#pragma once
// A sysfs and a /dev tree of the shapes Linux shows, for the serial-device
// list: an FTDI adapter, two CH340 adapters without serial numbers (udev
// gives them one by-id name, which ends at the later one), a CDC-ACM board,
// an on-board 8250 UART behind the serial-base bus of newer kernels, an 8250
// slot with no UART (type 0), one with a UART, a tty whose device has no
// driver and a virtual console.

#include <filesystem>
#include <fstream>
#include <string>

namespace veltrad::test {

class FakeDeviceTree {
public:
    static constexpr char kUsbBus[] = "devices/pci0000:00/0000:00:14.0/usb1";
    static constexpr char kFtdiById[] = "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0";
    static constexpr char kCh340ById[] = "/dev/serial/by-id/usb-1a86_USB_Serial-if00-port0";
    static constexpr char kAcmById[] = "/dev/serial/by-id/usb-Arduino__www.arduino.cc__Arduino_Uno_8573632-if00";
    static constexpr char kFtdiByPath[] = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:1:1.0-port0";
    static constexpr char kCh340aByPath[] = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0";
    static constexpr char kCh340bByPath[] = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:3:1.0-port0";
    static constexpr char kAcmByPath[] = "/dev/serial/by-path/pci-0000:00:14.0-usb-0:4:1.0";

    explicit FakeDeviceTree(const std::filesystem::path& root) : m_sys(root / "sys"), m_dev(root / "dev")
    {
        const std::string usb = kUsbBus;
        UsbDevice(usb + "/1-1", "0403", "6001", "FTDI", "FT232R USB UART", "A50285BI");
        UsbSerialPort("ttyUSB0", usb + "/1-1/1-1:1.0/ttyUSB0", "ftdi_sio");
        Write(m_sys / usb / "1-1/1-1:1.0/ttyUSB0/latency_timer", "16\n");
        UsbDevice(usb + "/1-2", "1a86", "7523", "", "USB Serial", "");
        UsbSerialPort("ttyUSB1", usb + "/1-2/1-2:1.0/ttyUSB1", "ch341-uart");
        UsbDevice(usb + "/1-3", "1a86", "7523", "", "USB Serial", "");
        UsbSerialPort("ttyUSB2", usb + "/1-3/1-3:1.0/ttyUSB2", "ch341-uart");
        UsbDevice(usb + "/1-4", "2341", "0043", "Arduino (www.arduino.cc)", "Arduino Uno", "8573632");
        Device(usb + "/1-4/1-4:1.0", "usb", "cdc_acm");
        Tty("ttyACM0", usb + "/1-4/1-4:1.0");

        // ttyS0: the PNP port's controller and port devices on serial-base.
        Device("devices/pnp0/00:01", "pnp", "serial");
        Device("devices/pnp0/00:01/00:01:0", "serial-base", "ctrl");
        Device("devices/pnp0/00:01/00:01:0/00:01:0.0", "serial-base", "port");
        Tty("ttyS0", "devices/pnp0/00:01/00:01:0/00:01:0.0", "4");
        // The legacy 8250 slots: ttyS1 without a UART, ttyS10 with one.
        Device("devices/platform/serial8250", "platform", "serial8250");
        Tty("ttyS1", "devices/platform/serial8250", "0");
        Tty("ttyS10", "devices/platform/serial8250", "4");
        // A device that no driver holds, and a console without a device.
        std::filesystem::create_directories(m_sys / "devices/platform/orphan");
        Tty("ttyS3", "devices/platform/orphan", "4");
        std::filesystem::create_directories(m_sys / "class/tty/tty0");

        for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyUSB2", "ttyACM0", "ttyS0", "ttyS1", "ttyS3", "ttyS10"})
            Write(m_dev / node, "");
        Link(kFtdiById, "ttyUSB0");
        Link(kCh340ById, "ttyUSB2");
        Link(kAcmById, "ttyACM0");
        Link(kFtdiByPath, "ttyUSB0");
        // Newer udev adds a second by-path form; the classic one sorts first.
        Link("/dev/serial/by-path/pci-0000:00:14.0-usbv2-0:1:1.0-port0", "ttyUSB0");
        Link(kCh340aByPath, "ttyUSB1");
        Link(kCh340bByPath, "ttyUSB2");
        Link(kAcmByPath, "ttyACM0");
    }

    const std::filesystem::path& Sys() const { return m_sys; }
    const std::filesystem::path& Dev() const { return m_dev; }

private:
    static void Write(const std::filesystem::path& file, const std::string& text)
    {
        std::filesystem::create_directories(file.parent_path());
        std::ofstream(file) << text;
    }
    // A relative symlink, as sysfs and udev make them.
    static void RelativeLink(const std::filesystem::path& link, const std::filesystem::path& target)
    {
        std::filesystem::create_directories(link.parent_path());
        std::filesystem::create_symlink(target.lexically_relative(link.parent_path()), link);
    }
    void Device(const std::string& dir, const std::string& bus, const std::string& driver)
    {
        const auto driverDir = m_sys / "bus" / bus / "drivers" / driver;
        std::filesystem::create_directories(driverDir);
        std::filesystem::create_directories(m_sys / dir);
        RelativeLink(m_sys / dir / "driver", driverDir);
    }
    void UsbDevice(const std::string& dir, const char* vid, const char* pid, const std::string& manufacturer,
                   const std::string& product, const std::string& serial)
    {
        Write(m_sys / dir / "idVendor", std::string(vid) + "\n");
        Write(m_sys / dir / "idProduct", std::string(pid) + "\n");
        if (!manufacturer.empty())
            Write(m_sys / dir / "manufacturer", manufacturer + "\n");
        Write(m_sys / dir / "product", product + "\n");
        if (!serial.empty())
            Write(m_sys / dir / "serial", serial + "\n");
    }
    void UsbSerialPort(const std::string& name, const std::string& dir, const std::string& driver)
    {
        Device(dir, "usb-serial", driver);
        Tty(name, dir);
    }
    void Tty(const std::string& name, const std::string& deviceDir, const std::string& type = "")
    {
        const auto tty = m_sys / "class/tty" / name;
        std::filesystem::create_directories(tty);
        RelativeLink(tty / "device", m_sys / deviceDir);
        if (!type.empty())
            Write(tty / "type", type + "\n");
    }
    void Link(const std::string& devPath, const std::string& node)
    {
        RelativeLink(m_dev / devPath.substr(5), m_dev / node);
    }

    std::filesystem::path m_sys;
    std::filesystem::path m_dev;
};

}  // namespace veltrad::test
