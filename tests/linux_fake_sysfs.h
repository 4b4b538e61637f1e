// A fake sysfs and /dev in a temporary directory, laid out as the kernel lays
// out hidraw nodes of USB HID interfaces:
//   sys/devices/usb1/<port>/<port>:1.<n>/<hid>/{uevent,report_descriptor,hidraw/hidrawN}
//   sys/class/hidraw/hidrawN -> ../../devices/.../hidraw/hidrawN
//   sys/class/hidraw/hidrawN/device -> the <hid> directory
//   dev/hidrawN (a regular file standing in for the node)
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace linux_test {

struct FakeHidNode {
    std::string node;  // "hidraw0"
    std::string port;  // USB device directory name, "1-4"
    int interface_number = 0;
    std::string uevent;  // whole uevent text of the HID device
    std::vector<std::uint8_t> report_descriptor;
    std::string usb_serial;   // serial attribute of the USB device; none when empty
    std::string bcd_device;   // bcdDevice attribute; none when empty
    bool with_descriptor = true;
    bool with_dev_node = true;
};

inline FakeHidNode hid_node(std::string node, std::string port, std::string uevent,
                            std::vector<std::uint8_t> descriptor, std::string usb_serial = "",
                            std::string bcd_device = "") {
    FakeHidNode n;
    n.node = std::move(node);
    n.port = std::move(port);
    n.uevent = std::move(uevent);
    n.report_descriptor = std::move(descriptor);
    n.usb_serial = std::move(usb_serial);
    n.bcd_device = std::move(bcd_device);
    return n;
}

class FakeSysfs : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (std::filesystem::temp_directory_path() / "ft-sysfs-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        root_ = pattern;
        std::filesystem::create_directories(sys() / "class" / "hidraw");
        std::filesystem::create_directories(dev());
    }
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::remove_all(root_, ignored);
    }

    std::filesystem::path sys() const { return root_ / "sys"; }
    std::filesystem::path dev() const { return root_ / "dev"; }

    static void write(const std::filesystem::path& file, const std::string& text) {
        std::ofstream out(file, std::ios::binary);
        out << text;
    }

    void add(const FakeHidNode& n) {
        namespace fs = std::filesystem;
        const fs::path usb = sys() / "devices" / "usb1" / n.port;
        const fs::path interface = usb / (n.port + ":1." + std::to_string(n.interface_number));
        const fs::path hid = interface / ("0003:HID." + n.node);
        fs::create_directories(hid / "hidraw" / n.node);
        write(hid / "uevent", n.uevent);
        if (n.with_descriptor)
            write(hid / "report_descriptor",
                  std::string(n.report_descriptor.begin(), n.report_descriptor.end()));
        if (!n.usb_serial.empty()) write(usb / "serial", n.usb_serial + "\n");
        if (!n.bcd_device.empty()) write(usb / "bcdDevice", n.bcd_device + "\n");
        write(usb / "devnum", "7\n");
        fs::create_directory_symlink(fs::relative(hid / "hidraw" / n.node, sys() / "class" / "hidraw"),
                                     sys() / "class" / "hidraw" / n.node);
        fs::create_directory_symlink("../..", hid / "hidraw" / n.node / "device");
        if (n.with_dev_node) write(dev() / n.node, "");
    }

    std::filesystem::path root_;
};

// "HID_ID=0003:00002F5A:00000001" and friends.
inline std::string uevent(std::uint16_t bus, std::uint16_t vendor, std::uint16_t product,
                          const std::string& uniq = "") {
    char id[64];
    std::snprintf(id, sizeof id, "HID_ID=%.4X:%.8X:%.8X\n", bus, vendor, product);
    return std::string("DRIVER=hid-generic\n") + id + "HID_NAME=Test Device\nHID_PHYS=usb-0000:00:04.0-4/input0\n" +
           "HID_UNIQ=" + uniq + "\nMODALIAS=hid:b0003g0001v00002F5Ap00000001\n";
}

}  // namespace linux_test
