// Client information: both wire layouts, the BCD version and the conversion
// to an older peer's layout.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kxp/client_info.h"
#include "kxp/kxp_codes.h"

namespace {

using bytes = std::vector<std::uint8_t>;

bytes info_bytes(std::initializer_list<std::uint8_t> head, std::size_t size) {
    bytes out(head);
    out.resize(size, 0);
    return out;
}

TEST(KxpClientInfo, VersionCodeIsFourBcdDigits) {
    const struct {
        std::uint8_t high, low;
        int code;
    } cases[] = {{0x00, 0x02, 2}, {0x00, 0x00, 0}, {0x12, 0x34, 1234}, {0x99, 0x99, 9999},
                 {0x0A, 0x00, -1}, {0x00, 0x0F, -1}, {0xA0, 0x01, -1}, {0x00, 0xF0, -1}};
    for (const auto& c : cases)
        EXPECT_EQ(client_info_version_code(c.high, c.low), c.code) << int(c.high) << ' ' << int(c.low);
}

TEST(KxpClientInfo, LocalInformationIsVersionTwoWithTheClientName) {
    client_info info;
    ASSERT_EQ(client_info_init(info), 0);
    ASSERT_TRUE(client_info_set_mfg_id(info, "Korvix/Flashtool"));
    bytes expected = info_bytes({0x00, 0x02, 0x00, 0x02}, 46);
    const std::string name = "Korvix/Flashtool";
    std::copy(name.begin(), name.end(), expected.begin() + 18);
    EXPECT_EQ(bytes(info.wire.begin(), info.wire.end()), expected);
    EXPECT_EQ(info.version, 2);
    EXPECT_EQ(info.stored_length, 46u);
}

TEST(KxpClientInfo, ManufacturerIdIsCutToItsField) {
    const std::string thirty = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123";
    const struct {
        int version;
        std::size_t offset, kept;
    } cases[] = {{2, 18, 25}, {1, 8, 27}, {0, 8, 27}};
    for (const auto& c : cases) {
        client_info info;
        client_info_init(info);
        info.wire.fill(0x5A);
        info.version = c.version;
        ASSERT_TRUE(client_info_set_mfg_id(info, thirty));
        EXPECT_EQ(client_info_mfg_id(info), thirty.substr(0, c.kept)) << c.version;
        EXPECT_EQ(info.wire[c.offset + c.kept], 0) << c.version;
        EXPECT_EQ(info.wire[c.offset - 1], 0x5A) << "byte before the field";
    }
    client_info unsupported;
    unsupported.version = 3;
    EXPECT_FALSE(client_info_set_mfg_id(unsupported, "x"));
}

TEST(KxpClientInfo, ParseChecksLengthVersionAndLayout) {
    const struct {
        const char* name;
        bytes payload;
        int result;
        int version;
    } cases[] = {
        {"version 2", info_bytes({0x00, 0x02, 0x00, 0x01}, 46), 0, 2},
        {"version 2, longer payload", info_bytes({0x00, 0x02}, 60), 0, 2},
        {"version 2 too short", info_bytes({0x00, 0x02}, 45), KXP_ERR_BAD_INFO, -1},
        {"version 1", info_bytes({0x00, 0x01}, 36), 0, 1},
        {"version 0", info_bytes({0x00, 0x00}, 36), 0, 0},
        {"version 1 too short", info_bytes({0x00, 0x01}, 35), KXP_ERR_BAD_INFO, -1},
        {"version 3", info_bytes({0x00, 0x03}, 46), KXP_ERR_BAD_INFO, 3},
        {"not BCD", info_bytes({0x00, 0x2A}, 46), KXP_ERR_BAD_INFO, -1},
        {"three bytes", info_bytes({0x00, 0x02, 0x00}, 3), KXP_ERR_BAD_INFO, 7},
    };
    for (const auto& c : cases) {
        client_info info;
        info.version = 7;  // shows whether the parse touched it
        EXPECT_EQ(client_info_parse(info, c.payload), c.result) << c.name;
        EXPECT_EQ(info.version, c.version) << c.name;
    }
}

TEST(KxpClientInfo, AccessorsFollowTheVersion) {
    bytes v2 = info_bytes({0x00, 0x02, 0x00, 0x01, 0x01, 0x23, 0x45, 0x67}, 46);
    const std::string serial = "SN12345678", mfg = "Maker";
    std::copy(serial.begin(), serial.end(), v2.begin() + 8);
    std::copy(mfg.begin(), mfg.end(), v2.begin() + 18);
    bytes v1 = info_bytes({0x00, 0x01, 0x00, 0x01, 0x09, 0x08, 0x07, 0x06}, 36);
    std::copy(mfg.begin(), mfg.end(), v1.begin() + 8);

    client_info info;
    char buffer[20];
    ASSERT_EQ(client_info_parse(info, v2), 0);
    EXPECT_EQ(client_info_protocol_version(info), (kxp_version_bytes{0x00, 0x02, 0x00, 0x01}));
    EXPECT_EQ(client_info_sw_version(info), (kxp_version_bytes{0x01, 0x23, 0x45, 0x67}));
    EXPECT_EQ(client_info_mfg_id(info), "Maker");
    client_info_serial_number(info, buffer);
    EXPECT_STREQ(buffer, "SN12345678");
    client_info_serial_number(info, std::span(buffer, 10));
    EXPECT_STREQ(buffer, "");

    ASSERT_EQ(client_info_parse(info, v1), 0);
    EXPECT_EQ(client_info_sw_version(info), (kxp_version_bytes{0x09, 0x08, 0x07, 0x06}));
    EXPECT_EQ(client_info_mfg_id(info), "Maker");
    client_info_serial_number(info, buffer);
    EXPECT_STREQ(buffer, "");

    EXPECT_NE(client_info_parse(info, info_bytes({0x00, 0x03}, 46)), 0);
    EXPECT_FALSE(client_info_protocol_version(info));
    EXPECT_FALSE(client_info_sw_version(info));
    EXPECT_FALSE(client_info_mfg_id(info));
    client_info_serial_number(info, buffer);
    EXPECT_STREQ(buffer, "");
}

TEST(KxpClientInfo, UnterminatedManufacturerIdStaysInsideItsField) {
    client_info info;
    bytes full = info_bytes({0x00, 0x02}, 46);
    std::fill(full.begin() + 18, full.end(), 'M');
    ASSERT_EQ(client_info_parse(info, full), 0);
    EXPECT_EQ(client_info_mfg_id(info), std::string(26, 'M'));
}

TEST(KxpClientInfo, ConvertReLaysOutForAnOlderPeer) {
    client_info info;
    client_info_init(info);
    client_info_set_mfg_id(info, "Korvix/Flashtool");
    info.wire[4] = 0x11;  // software version survives
    client_info_convert(info, {0x00, 0x01, 0x00, 0x03});

    bytes expected = info_bytes({0x00, 0x01, 0x00, 0x03, 0x11}, 46);
    const std::string name = "Korvix/Flashtool";
    std::copy(name.begin(), name.end(), expected.begin() + 8);
    EXPECT_EQ(bytes(info.wire.begin(), info.wire.end()), expected);
    EXPECT_EQ(info.version, 1);
    EXPECT_EQ(info.stored_length, 46u);
    EXPECT_EQ(client_info_mfg_id(info), "Korvix/Flashtool");
}

TEST(KxpClientInfo, ConvertBetweenVersionTwoKeepsTheSerialNumber) {
    client_info info;
    client_info_init(info);
    client_info_set_mfg_id(info, "Name");
    std::fill(info.wire.begin() + 8, info.wire.begin() + 18, 'S');
    client_info_convert(info, {0x00, 0x02, 0x00, 0x07});
    EXPECT_EQ(info.wire[3], 0x07);
    EXPECT_EQ(std::string(info.wire.begin() + 8, info.wire.begin() + 18), std::string(10, 'S'));
    EXPECT_EQ(client_info_mfg_id(info), "Name");
}

}  // namespace
