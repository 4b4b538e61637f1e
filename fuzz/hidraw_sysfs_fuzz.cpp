// What the hidraw backend reads from sysfs: the report descriptor, the HID
// device's uevent, and the USB device's serial and bcdDevice attributes,
// through the node listing and the HID role's open. The input holds the four
// files in that order, each as a 16-bit little-endian length and its bytes
// (length 0xFFFF: the file is missing).
#include <stdlib.h>

#include <array>
#include <filesystem>
#include <fstream>

#include "fuzz/fuzz_platform.h"
#include "platform/linux/hidraw_role.h"
#include "platform/linux/hidraw_sysfs.h"

namespace {

namespace fs = std::filesystem;
using namespace platform::linux_backend;

constexpr std::uint16_t MISSING = 0xFFFF;

// sys/devices/usb1/1-4/1-4:1.0/0003:HID.1/{report_descriptor,uevent,hidraw/hidraw0},
// the class link to it, and dev/hidraw0, laid out once per process.
struct Tree {
    fs::path root;
    fs::path usb_device;
    fs::path hid_device;
    Tree() {
        std::string pattern = (fs::temp_directory_path() / "ft-fuzz-sysfs-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) std::abort();
        root = pattern;
        usb_device = root / "sys/devices/usb1/1-4";
        hid_device = usb_device / "1-4:1.0/0003:HID.1";
        fs::create_directories(hid_device / "hidraw/hidraw0");
        fs::create_directories(root / "sys/class/hidraw");
        fs::create_directories(root / "dev");
        fs::create_directory_symlink(fs::relative(hid_device / "hidraw/hidraw0", root / "sys/class/hidraw"),
                                     root / "sys/class/hidraw/hidraw0");
        fs::create_directory_symlink("../..", hid_device / "hidraw/hidraw0/device");
        std::ofstream(root / "dev/hidraw0").flush();
    }
    ~Tree() {
        std::error_code ignored;
        fs::remove_all(root, ignored);
    }
};

void lay_file(fuzz::FuzzInput& input, const fs::path& file) {
    const std::uint8_t low = input.byte();
    const auto length = static_cast<std::uint16_t>(low | (input.byte() << 8));
    std::error_code ignored;
    fs::remove(file, ignored);
    if (length == MISSING) return;
    const auto bytes = input.take(length);
    std::ofstream(file, std::ios::binary).write(reinterpret_cast<const char*>(bytes.data()),
                                                static_cast<std::streamsize>(bytes.size()));
}

int no_ioctl(int, unsigned long, void*) { return -1; }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const Tree tree;
    fuzz::FuzzInput input({data, size});
    lay_file(input, tree.hid_device / "report_descriptor");
    lay_file(input, tree.hid_device / "uevent");
    lay_file(input, tree.usb_device / "serial");
    lay_file(input, tree.usb_device / "bcdDevice");

    HidrawRole role({tree.root / "sys", tree.root / "dev", no_ioctl});
    std::vector<std::string> paths;
    role.paths(paths);
    for (const std::string& path : paths) {
        const platform::HidHandle handle = role.open(path);
        if (handle == 0) continue;
        platform::HidAttributes attributes;
        platform::HidCaps caps;
        std::string serial;
        role.attributes(handle, attributes);
        role.caps(handle, caps);
        role.serial_number(handle, serial);
        role.close(handle);
    }
    return 0;
}
