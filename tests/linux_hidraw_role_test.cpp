// The hidraw HID role against a fake sysfs: one path per top-level
// collection, caps of that collection, whole-report feature transfers, and
// the device layer's vendor-interface search running over it.
#include <gtest/gtest.h>
#include <linux/hidraw.h>
#include <sys/ioctl.h>

#include <cstring>

#include "linux_fake_sysfs.h"
#include "linux_hid_descriptors.h"
#include "platform/linux/hidraw_role.h"
#include "platform/linux/linux_platform.h"
#include "usb/usbhid_device.h"

namespace {

using namespace platform::linux_backend;
using linux_test::FakeHidNode;
using linux_test::hid_node;
using linux_test::uevent;

// What the fake ioctl saw and how it answers.
struct IoctlScript {
    unsigned long request = 0;
    std::vector<std::uint8_t> sent;
    std::vector<std::uint8_t> reply;  // copied into the buffer on a get
    int result = 0;
    int calls = 0;
};
IoctlScript script;

int fake_ioctl(int, unsigned long request, void* argument) {
    ++script.calls;
    script.request = request;
    const std::size_t size = _IOC_SIZE(request);
    auto* bytes = static_cast<std::uint8_t*>(argument);
    script.sent.assign(bytes, bytes + size);
    if (_IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0)))
        std::memcpy(bytes, script.reply.data(), std::min(size, script.reply.size()));
    return script.result;
}

class LinuxHidrawRole : public linux_test::FakeSysfs {
protected:
    void SetUp() override {
        FakeSysfs::SetUp();
        script = {};
        add(hid_node("hidraw0", "1-1", uevent(3, 0x046D, 0xC31C), linux_test::KEYBOARD));
        add(hid_node("hidraw1", "1-4", uevent(3, 0x2F5A, 0x0001, "TC-7"), linux_test::COMPOSITE, "", "0105"));
        add(hid_node("hidraw2", "1-5", uevent(3, 0x2F5A, 0x0002), std::vector<std::uint8_t>{0x06, 0x01, 0xFF, 0xA1, 0x01}));  // unbalanced
    }
    HidrawConfig config() const { return {sys(), dev(), fake_ioctl}; }
    std::string path(const std::string& tail) const { return (dev() / tail).string(); }
};

TEST_F(LinuxHidrawRole, OnePathPerTopLevelCollection) {
    HidrawRole role(config());
    std::vector<std::string> paths{"stale"};
    ASSERT_TRUE(role.paths(paths));
    EXPECT_EQ(paths, (std::vector<std::string>{path("hidraw0"), path("hidraw1&col01"), path("hidraw1&col02"),
                                               path("hidraw1&col03")}));
}

TEST_F(LinuxHidrawRole, CapsAndAttributesOfEachPath) {
    struct Case {
        std::string tail;
        std::uint16_t vendor, product, version, page, usage, input, output, feature;
    };
    const Case cases[] = {
        {"hidraw0", 0x046D, 0xC31C, 0, 0x0001, 0x0006, 9, 2, 0},
        {"hidraw1&col01", 0x2F5A, 0x0001, 0x0105, 0x0001, 0x0006, 8, 0, 0},
        {"hidraw1&col02", 0x2F5A, 0x0001, 0x0105, 0x000C, 0x0001, 3, 0, 0},
        {"hidraw1&col03", 0x2F5A, 0x0001, 0x0105, 0xFF01, 0x00F1, 65, 0, 257},
    };
    HidrawRole role(config());
    for (const Case& c : cases) {
        const platform::HidHandle handle = role.open(path(c.tail));
        ASSERT_NE(handle, 0u) << c.tail;
        platform::HidAttributes attributes;
        platform::HidCaps caps;
        ASSERT_TRUE(role.attributes(handle, attributes)) << c.tail;
        ASSERT_TRUE(role.caps(handle, caps)) << c.tail;
        EXPECT_EQ(attributes.vendor_id, c.vendor) << c.tail;
        EXPECT_EQ(attributes.product_id, c.product) << c.tail;
        EXPECT_EQ(attributes.version, c.version) << c.tail;
        EXPECT_EQ(caps.usage_page, c.page) << c.tail;
        EXPECT_EQ(caps.usage, c.usage) << c.tail;
        EXPECT_EQ(caps.input_report_length, c.input) << c.tail;
        EXPECT_EQ(caps.output_report_length, c.output) << c.tail;
        EXPECT_EQ(caps.feature_report_length, c.feature) << c.tail;
        role.close(handle);
        EXPECT_FALSE(role.caps(handle, caps)) << "closed handle " << c.tail;
    }
}

TEST_F(LinuxHidrawRole, OpenRefusesPathsItDoesNotList) {
    std::filesystem::remove(dev() / "hidraw0");
    HidrawRole role(config());
    for (const std::string& bad :
         {path("hidraw0"),                    // node file missing
          path("hidraw1&col04"),              // no fourth collection
          path("hidraw1&col00"), path("hidraw1&col1"), path("hidraw1&colxx"),
          path("hidraw2"),                    // descriptor does not parse
          path("hidraw7"),                    // no such node
          path("../hidraw1"), std::string("/elsewhere/hidraw1"), std::string("")})
        EXPECT_EQ(role.open(bad), 0u) << bad;
    EXPECT_EQ(role.denied_device(), "");
}

TEST_F(LinuxHidrawRole, FeatureTransfersMoveTheWholeReport) {
    struct Case {
        const char* what;
        bool get;
        std::size_t length;
        int result;
        bool ok;
    };
    const Case cases[] = {
        {"get, whole report", true, 257, 257, true},
        {"get, short report", true, 257, 100, false},
        {"get, stalled", true, 257, -1, false},
        {"set, whole report", false, 257, 257, true},
        {"set, partly sent", false, 257, 256, false},
        {"set, failed", false, 257, -1, false},
        {"get, empty buffer", true, 0, 0, false},
    };
    HidrawRole role(config());
    const platform::HidHandle handle = role.open(path("hidraw1&col03"));
    ASSERT_NE(handle, 0u);
    for (const Case& c : cases) {
        script = {};
        script.result = c.result;
        script.reply.assign(c.length, 0x5A);
        std::vector<std::uint8_t> report(c.length, 0);
        for (std::size_t i = 0; i < report.size(); ++i) report[i] = static_cast<std::uint8_t>(i * 7);
        if (!report.empty()) report[0] = 0xFF;
        const bool ok = c.get ? role.get_feature(handle, report) : role.set_feature(handle, report);
        EXPECT_EQ(ok, c.ok) << c.what;
        if (c.length == 0) {
            EXPECT_EQ(script.calls, 0) << c.what;
            continue;
        }
        ASSERT_EQ(script.calls, 1) << c.what;
        EXPECT_EQ(_IOC_SIZE(script.request), c.length) << c.what;
        EXPECT_EQ(script.request, c.get ? HIDIOCGFEATURE(c.length) : HIDIOCSFEATURE(c.length)) << c.what;
        EXPECT_EQ(script.sent[0], 0xFF) << "report ID in byte 0: " << c.what;
        if (c.get && c.ok) {
            EXPECT_EQ(report, script.reply) << c.what;
        }
        if (!c.get) {
            EXPECT_EQ(script.sent[256], static_cast<std::uint8_t>(256 * 7)) << c.what;
        }
    }
    std::vector<std::uint8_t> spare(257);
    EXPECT_FALSE(role.get_feature(handle + 100, spare)) << "unknown handle";
}

TEST_F(LinuxHidrawRole, SerialNumberFromTheNode) {
    HidrawRole role(config());
    const platform::HidHandle vendor = role.open(path("hidraw1&col03"));
    const platform::HidHandle keyboard = role.open(path("hidraw0"));
    std::string serial;
    ASSERT_TRUE(role.serial_number(vendor, serial));
    EXPECT_EQ(serial, "TC-7");
    EXPECT_FALSE(role.serial_number(keyboard, serial));
}

// The device layer's search over this backend: it passes over the other
// collections and devices and opens the vendor collection with its length.
TEST_F(LinuxHidrawRole, DeviceLayerFindsTheVendorCollection) {
    LinuxPlatform linux_platform(config());
    struct Case {
        std::uint16_t vendor, product;
        serial_number serial;
        bool found;
    };
    const Case cases[] = {
        {ANY_ID, ANY_ID, std::nullopt, true},
        {0x2F5A, 0x0001, std::nullopt, true},
        {0x2F5A, 0x0001, "TC-7", true},
        {0x2F5A, 0x0001, "TC-8", false},
        {0x2F5A, 0x0002, std::nullopt, false},
        {0x046D, 0xC31C, std::nullopt, false},
    };
    for (const Case& c : cases) {
        usbhid_device_ptr device = usbhid_device_open(linux_platform, c.vendor, c.product, c.serial);
        EXPECT_EQ(device != nullptr, c.found) << c.vendor << ":" << c.product;
        if (!device) continue;
        EXPECT_EQ(device->vendor_id, 0x2F5A);
        EXPECT_EQ(device->product_id, 0x0001);
        EXPECT_EQ(usbhid_device_feature_length(device.get()), 257);
        device.reset();
    }
}

TEST(LinuxInaccessibleHint, NamesTheDeviceAndTheRule) {
    EXPECT_EQ(inaccessible_hint_text("", ""), "");
    const std::string usb = inaccessible_hint_text("2F5A:0001 at USB 1-4", "/dev/hidraw1 (2F5A:0001)");
    EXPECT_NE(usb.find("2F5A:0001 at USB 1-4"), std::string::npos);
    EXPECT_EQ(usb.find("hidraw"), std::string::npos);
    // The rule by its installed path.
    EXPECT_NE(usb.find(" /usr/lib/udev/rules.d/70-flash-tool.rules "), std::string::npos) << usb;
    EXPECT_EQ(usb.find('\n'), std::string::npos);
    const std::string hid = inaccessible_hint_text("", "/dev/hidraw1 (2F5A:0001)");
    EXPECT_NE(hid.find("/dev/hidraw1 (2F5A:0001)"), std::string::npos);
}

}  // namespace
