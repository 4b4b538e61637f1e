// The DFU requests: setup packets, status decoding and names, the tolerated
// detach failures, and the device record's helpers.
#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "dfu/dfu_device.h"
#include "dfu/dfu_request.h"
#include "dfu_fake_platform.h"

namespace {

using dfu_test::FakePlatform;
using dfu_test::Reply;
using platform::UsbError;

std::string hex(const std::array<std::uint8_t, 8>& bytes) {
    std::string text;
    char digits[3];
    for (std::uint8_t byte : bytes) {
        std::snprintf(digits, sizeof digits, "%02x", byte);
        text += digits;
    }
    return text;
}

TEST(DfuStatusName, NamesEveryCodeAndTheCatchAll) {
    const struct {
        unsigned code;
        const char* name;
    } cases[] = {
        {0, "OK"},
        {1, "ERROR Target"},
        {2, "ERROR File"},
        {3, "ERROR Write"},
        {4, "ERROR Erase"},
        {5, "ERROR Check Erased"},
        {6, "ERROR Prog"},
        {7, "ERROR Verify"},
        {8, "ERROR Address"},
        {9, "ERROR Not Done"},
        {10, "ERROR Firmware"},
        {11, "ERROR Vendor"},
        {12, "ERROR USBR"},
        {13, "ERROR POR"},
        {14, "ERROR Unknown"},
        {15, "ERROR Stalled Packet"},
        {16, "ERROR Unknown Status Value"},
        {255, "ERROR Unknown Status Value"},
        {0xFFFFFFFFu, "ERROR Unknown Status Value"},
    };
    for (const auto& c : cases) EXPECT_STREQ(dfu_status_name(c.code), c.name) << c.code;
}

TEST(DfuStatusDecode, AssemblesThePollTimeoutLittleEndian) {
    const struct {
        std::array<std::uint8_t, 6> reply;
        dfu_status expected;
    } cases[] = {
        {{0, 0, 0, 0, 2, 0}, {0, 0, 2, 0}},
        {{7, 0x64, 0, 0, 10, 3}, {7, 100, 10, 3}},
        {{0, 0x01, 0x02, 0x03, 5, 0}, {0, 0x030201, 5, 0}},
        {{0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}, {0xFF, 0xFFFFFF, 0xFF, 0xFF}},
    };
    for (const auto& c : cases) {
        const dfu_status status = dfu_status_decode(c.reply);
        EXPECT_EQ(status.bStatus, c.expected.bStatus);
        EXPECT_EQ(status.bwPollTimeout, c.expected.bwPollTimeout);
        EXPECT_EQ(status.bState, c.expected.bState);
        EXPECT_EQ(status.iString, c.expected.iString);
        EXPECT_EQ(dfu_status_encode(status), c.reply);
    }
}

TEST(DfuRequests, SendTheSetupPacketOfEachRequest) {
    const std::array<std::uint8_t, 5> data{1, 2, 3, 4, 5};
    std::array<std::uint8_t, DFU_UPLOAD_SIZE> buffer{};
    dfu_status status;
    const struct {
        const char* name;
        int interface_number;
        std::function<int(usb_device&)> call;
        const char* setup;
    } cases[] = {
        {"detach", 1, [](usb_device& u) { return dfu_detach(u); }, "2100e80301000000"},
        {"dnload", 0, [&](usb_device& u) { return dfu_dnload(u, data, 3); }, "2101030000000500"},
        {"dnload wraps the block", 0, [&](usb_device& u) { return dfu_dnload(u, data, 0x10002); },
         "2101020000000500"},
        {"dnload zero length", 0, [](usb_device& u) { return dfu_dnload(u, {}, 212); }, "2101d40000000000"},
        {"upload", 0, [&](usb_device& u) { return dfu_upload(u, buffer, 7); }, "a102070000004000"},
        {"getstatus", 1, [&](usb_device& u) { return dfu_get_status(u, status); }, "a103000001000600"},
        {"clrstatus", 0, [](usb_device& u) { return dfu_clr_status(u); }, "2104000000000000"},
        {"abort", 0, [](usb_device& u) { return dfu_abort(u); }, "2106000000000000"},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, c.interface_number);
        EXPECT_GE(c.call(*device->usb), 0) << c.name;
        ASSERT_EQ(fake.calls.size(), 1u) << c.name;
        EXPECT_EQ(hex(fake.calls[0].setup), c.setup) << c.name;
    }
}

TEST(DfuDnload, ReturnsTheCountMovedAndSendsTheBytes) {
    const std::array<std::uint8_t, 4> data{0xDE, 0xAD, 0xBE, 0xEF};
    const struct {
        Reply reply;
        std::size_t length;
        int expected;
    } cases[] = {
        {{}, 4, 4},
        {{UsbError::none, {}, std::size_t{2}}, 4, 2},
        {{}, 0, 0},
        {dfu_test::failure(UsbError::general_failure), 4, -1},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies[DFU_DNLOAD] = {c.reply};
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        EXPECT_EQ(dfu_dnload(*device->usb, std::span(data).first(c.length), 0), c.expected);
        EXPECT_EQ(fake.calls.at(0).data, std::vector<std::uint8_t>(data.begin(), data.begin() + c.length));
    }
}

TEST(DfuUpload, ReturnsWhatTheDeviceSent) {
    const struct {
        Reply reply;
        int expected;
    } cases[] = {
        {{UsbError::none, std::vector<std::uint8_t>(64, 'a'), {}}, 64},
        {{UsbError::none, std::vector<std::uint8_t>(10, 'b'), {}}, 10},
        {{UsbError::none, {}, {}}, 0},
        {{UsbError::none, std::vector<std::uint8_t>(100, 'c'), {}}, 64},  // never more than asked
        {dfu_test::failure(), -1},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies[DFU_UPLOAD] = {c.reply};
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        std::array<std::uint8_t, DFU_UPLOAD_SIZE> buffer{};
        EXPECT_EQ(dfu_upload(*device->usb, buffer, 0), c.expected);
        for (int i = 0; i < c.expected; ++i) EXPECT_EQ(buffer[i], c.reply.in[i]);
    }
}

TEST(DfuGetStatus, AcceptsOnlyASixByteReply) {
    const dfu_status untouched{9, 9, 9, 9};
    const struct {
        Reply reply;
        int expected;
        std::uint8_t state;
    } cases[] = {
        {dfu_test::status_reply(DFU_STATE_DNLOAD_IDLE), 6, DFU_STATE_DNLOAD_IDLE},
        {{UsbError::none, {0, 0, 0, 0, 2}, {}}, -1, 9},
        {{UsbError::none, {}, {}}, -1, 9},
        {dfu_test::failure(), -1, 9},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies[DFU_GETSTATUS] = {c.reply};
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        dfu_status status = untouched;
        EXPECT_EQ(dfu_get_status(*device->usb, status), c.expected);
        EXPECT_EQ(status.bState, c.state);
        if (c.expected < 0) {
            EXPECT_EQ(status.bStatus, untouched.bStatus);
        }
    }
}

TEST(DfuDetach, ToleratesOnlyTheFailuresOfADetachingDevice) {
    const struct {
        UsbError error;
        int expected;
    } cases[] = {
        {UsbError::none, 0},
        {UsbError::general_failure, 0},
        {UsbError::device_gone, 0},
        {UsbError::timeout, -1},
        {UsbError::other, -1},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies[DFU_DETACH] = {dfu_test::failure(c.error)};
        dfu_device_ptr device = fake.open(0x0001, 1);
        EXPECT_EQ(dfu_detach(*device->usb), c.expected) << static_cast<int>(c.error);
    }
}

TEST(DfuClrStatusAndAbort, ReportFailure) {
    FakePlatform fake;
    fake.replies[DFU_CLRSTATUS] = {dfu_test::failure()};
    fake.replies[DFU_ABORT] = {dfu_test::failure()};
    dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
    EXPECT_EQ(dfu_clr_status(*device->usb), -1);
    EXPECT_EQ(dfu_abort(*device->usb), -1);
    EXPECT_EQ(dfu_clr_status(*device->usb), 0);
    EXPECT_EQ(dfu_abort(*device->usb), 0);
}

TEST(DfuDevice, OpensWithoutFailureOrText) {
    FakePlatform fake;
    dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
    EXPECT_TRUE(device->failure.ok());
    EXPECT_STREQ(dfu_status_text(*device), "");
}

}  // namespace
