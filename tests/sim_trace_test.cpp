#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "platform/trace.h"
#include "sim_fixture.h"

namespace {

using platform::TracePlatform;

struct TraceCase {
    std::string name;
    std::function<void(TracePlatform&, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&)> call;
    std::string expected;  // the whole last line
};

// Opens the touch controller's WinUSB interface (interface 1) and its HID
// interface through the trace, so the calls under test have handles.
struct Handles {
    platform::UsbHandle usb = 0;
    platform::HidHandle hid = 0;
};

Handles open_handles(TracePlatform& trace) {
    Handles handles;
    std::vector<std::string> names;
    trace.usb_device_names(names);
    for (const auto& name : names)
        if (name.find("&MI_01#") != std::string::npos) handles.usb = trace.usb_open(name);
    std::vector<std::string> paths;
    trace.hid_paths(paths);
    handles.hid = trace.hid_open(paths.at(0));
    return handles;
}

std::string last_line(const std::string& text) {
    const auto end = text.find_last_of('\n');
    const auto begin = text.find_last_of('\n', end - 1);
    return text.substr(begin == std::string::npos ? 0 : begin + 1, end - (begin == std::string::npos ? 0 : begin + 1));
}

class TraceLines : public testing::TestWithParam<TraceCase> {};

TEST_P(TraceLines, OneJsonObjectPerCall) {
    sim_test::SimBus bus;
    auto touch = bus.attach_touch();
    bus.clock.advance(1000);  // "t" counts from the decorator's creation
    std::ostringstream out;
    TracePlatform trace(bus.platform, out);
    bus.clock.advance(5);
    GetParam().call(trace, bus, touch);
    EXPECT_EQ(last_line(out.str()), GetParam().expected);
}

const auto handles = [](TracePlatform& trace) { return open_handles(trace); };

INSTANTIATE_TEST_SUITE_P(
    Ops, TraceLines,
    testing::Values(
        TraceCase{"names",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) {
                      std::vector<std::string> names;
                      t.usb_device_names(names);
                  },
                  R"({"t":5,"op":"names","ok":true,"count":6,"names":["C:","COM1",)"
                  R"("USB#ROOT_HUB30#4&2851d19&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}",)"
                  R"("HID#VID_2F5A&PID_0001&MI_00#8&00001f3b&0&0000#{4d1e55b2-f16f-11cf-88cb-001111000030}",)"
                  R"("USB#VID_2F5A&PID_0001&MI_00#7&00003a1d&0&0000#{a5dcbf10-6530-11d2-901f-00c04fb951ed}",)"
                  R"("USB#VID_2F5A&PID_0001&MI_01#7&00003a1d&0&0001#{a5dcbf10-6530-11d2-901f-00c04fb951ed}"]})"},
        TraceCase{"open_fails",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) { t.usb_open("COM1"); },
                  R"({"t":5,"op":"open","dev":"COM1","ok":false,"handle":0})"},
        TraceCase{"control_in",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) {
                      const auto h = handles(t);
                      const std::uint8_t setup[8] = {0x80, 0x06, 0x00, 0x03, 0x00, 0x00, 0x04, 0x00};
                      std::array<std::uint8_t, 4> buffer{};
                      std::size_t moved = 0;
                      t.usb_control_transfer(h.usb, setup, buffer, moved);
                  },
                  R"({"t":5,"op":"control","dev":1,"ok":true,"setup":"8006000300000400","data":"04030904"})"},
        TraceCase{"control_out_stalled",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) {
                      const auto h = handles(t);
                      const std::uint8_t setup[8] = {0x41, 0x33, 0x00, 0x00, 0x01, 0x00, 0x02, 0x00};
                      std::array<std::uint8_t, 2> buffer{0xAB, 0xCD};
                      std::size_t moved = 0;
                      t.usb_control_transfer(h.usb, setup, buffer, moved);
                  },
                  R"({"t":5,"op":"control","dev":1,"ok":false,"error":"general_failure","setup":"4133000001000200","data":"abcd"})"},
        TraceCase{"hid_caps",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) {
                      platform::HidCaps caps;
                      t.hid_caps(handles(t).hid, caps);
                  },
                  R"({"t":5,"op":"hid_caps","dev":2,"ok":true,"usage_page":65281,"usage":241,"feature_length":257,)"
                  R"("input_length":0,"output_length":0})"},
        TraceCase{"set_feature",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) {
                      std::vector<std::uint8_t> report(257, 0);
                      report[0] = 0xFF;
                      t.hid_set_feature(handles(t).hid, report);
                  },
                  R"({"t":5,"op":"set_feature","dev":2,"ok":true,"data":"ff)" + std::string(512, '0') + "\"}"},
        TraceCase{"get_feature_refused",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) {
                      std::vector<std::uint8_t> report(257, 0);
                      report[0] = 0xFF;
                      t.hid_get_feature(handles(t).hid, report);  // no command set: the device stalls
                  },
                  R"({"t":5,"op":"get_feature","dev":2,"ok":false})"},
        TraceCase{"sleep_then_time",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) {
                      t.sleep_ms(100);
                      t.usb_close(77);
                  },
                  R"({"t":105,"op":"close","dev":77,"ok":true})"},
        TraceCase{"sleep",
                  [](TracePlatform& t, sim_test::SimBus&, const std::shared_ptr<sim::TouchController>&) { t.sleep_ms(250); },
                  R"({"t":5,"op":"sleep","ok":true,"ms":250})"},
        TraceCase{"serial_after_unplug",
                  [](TracePlatform& t, sim_test::SimBus& bus, const std::shared_ptr<sim::TouchController>& touch) {
                      const auto h = handles(t);
                      bus.platform.detach(touch);
                      std::string serial;
                      t.hid_serial_number(h.hid, serial);
                  },
                  R"({"t":5,"op":"hid_serial","dev":2,"ok":false})"}),
    [](const auto& info) { return info.param.name; });

TEST(TraceQuote, EscapesWhatJsonCannotCarry) {
    struct Case {
        std::string in, out;
    };
    for (const Case& c : {Case{"plain", "\"plain\""}, Case{"a\"b", "\"a\\\"b\""}, Case{"\\\\?\\hid", "\"\\\\\\\\?\\\\hid\""},
                          Case{std::string("x\ny\x01", 4), "\"x\\ny\\u0001\""},
                          Case{"\xC3\xA9", "\"\\u00c3\\u00a9\""}})
        EXPECT_EQ(platform::trace_quote(c.in), c.out) << c.in;
}

TEST(TraceDecorator, PassesResultsThrough) {
    sim_test::SimBus bus;
    bus.attach_touch();
    std::ostringstream out;
    TracePlatform trace(bus.platform, out);
    const auto h = open_handles(trace);
    ASSERT_NE(h.usb, 0u);
    ASSERT_NE(h.hid, 0u);
    platform::HidAttributes attributes;
    ASSERT_TRUE(trace.hid_attributes(h.hid, attributes));
    EXPECT_EQ(attributes.product_id, sim::TOUCH_PRODUCT_ID);
    trace.sleep_ms(40);
    EXPECT_EQ(bus.platform.now_ms(), 40u);
    EXPECT_EQ(trace.now_ms(), 40u);
    // names, open (MI_01), hid_list, hid_open, hid_attributes, sleep
    std::size_t lines = 0;
    for (const char c : out.str()) lines += c == '\n';
    EXPECT_EQ(lines, 6u);
}

}  // namespace
