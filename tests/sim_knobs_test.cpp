#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "sim/configuration_view.h"
#include "sim/device_registry.h"
#include "sim/knobs.h"
#include "sim/sim_options.h"
#include "usb/le.h"

namespace {

using sim::SimConfig;

struct AssignCase {
    std::string name;
    std::string assignment;
    std::function<bool(const SimConfig&)> holds;
};

class KnobAssign : public testing::TestWithParam<AssignCase> {};

TEST_P(KnobAssign, ReachesTheConfiguration) {
    SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::knob_assign(config, GetParam().assignment, error)) << error;
    EXPECT_TRUE(GetParam().holds(config));
}

INSTANTIATE_TEST_SUITE_P(
    Values, KnobAssign,
    testing::Values(
        AssignCase{"hex_id", "touch.pid=0x0042", [](const SimConfig& c) { return c.touch.product_id == 0x42; }},
        AssignCase{"decimal_id", "touch.pid=17", [](const SimConfig& c) { return c.touch.product_id == 17; }},
        AssignCase{"never_back", "touch.restart_back_ms=never",
                   [](const SimConfig& c) { return !c.touch.restart_back_ms.has_value(); }},
        AssignCase{"back_ms", "touch.restart_back_ms=250",
                   [](const SimConfig& c) { return c.touch.restart_back_ms == 250u; }},
        AssignCase{"native_applies_to_both", "native.flash_status=-1",
                   [](const SimConfig& c) {
                       return c.touch.native.flash_status == std::int8_t{-1} &&
                              c.bridge.native.flash_status == std::int8_t{-1};
                   }},
        AssignCase{"native_check", "native.flash_status=check",
                   [](const SimConfig& c) { return !c.touch.native.flash_status.has_value(); }},
        AssignCase{"negative_delta", "native.chunk_count_delta=-2",
                   [](const SimConfig& c) { return c.bridge.native.chunk_count_delta == -2; }},
        AssignCase{"escaped_text", "native.info_text=a\\nb\\\\c",
                   [](const SimConfig& c) { return c.touch.native.info_text == "a\nb\\c"; }},
        AssignCase{"text_with_nul", "dfu.status_text=x\\0y\\x41",
                   [](const SimConfig& c) { return c.dfu.status_text == std::string("x\0yA", 4); }},
        AssignCase{"value_with_equals", "touch.serial=A=B", [](const SimConfig& c) { return c.touch.serial == "A=B"; }},
        AssignCase{"flag", "dfu.detach_stall=yes", [](const SimConfig& c) { return c.dfu.detach_stall; }},
        AssignCase{"fail_at", "dfu.fail_at=1:3", [](const SimConfig& c) { return c.dfu.fail_at.at(1) == 3u; }},
        AssignCase{"link_knob", "kxp.version=1", [](const SimConfig& c) { return c.kxp.protocol_version == 1; }},
        AssignCase{"magic", "native.magic=0xDEADBEEF",
                   [](const SimConfig& c) { return c.touch.native.identify_magic == 0xDEADBEEFu; }}),
    [](const auto& info) { return info.param.name; });

class KnobRefused : public testing::TestWithParam<std::pair<std::string, std::string>> {};

TEST_P(KnobRefused, WithAMessage) {
    SimConfig config;
    const SimConfig before;
    std::string error;
    EXPECT_FALSE(sim::knob_assign(config, GetParam().first, error));
    EXPECT_EQ(error, GetParam().second);
    EXPECT_EQ(config.touch.product_id, before.touch.product_id);
}

INSTANTIATE_TEST_SUITE_P(
    Bad, KnobRefused,
    testing::Values(std::pair{std::string("nosuch=1"), std::string("unknown knob: nosuch")},
                    std::pair{std::string("touch.pid"), std::string("knob setting without '=': touch.pid")},
                    std::pair{std::string("touch.pid=0x10000"), std::string("bad value for knob touch.pid: 0x10000")},
                    std::pair{std::string("touch.pid=-1"), std::string("bad value for knob touch.pid: -1")},
                    std::pair{std::string("touch.pid=12ab"), std::string("bad value for knob touch.pid: 12ab")},
                    std::pair{std::string("native.flash_status=200"),
                              std::string("bad value for knob native.flash_status: 200")},
                    std::pair{std::string("native.info_text=\\q"), std::string("bad value for knob native.info_text: \\q")},
                    std::pair{std::string("dfu.status_text=\\x4"), std::string("bad value for knob dfu.status_text: \\x4")},
                    std::pair{std::string("dfu.fail_at=1"), std::string("bad value for knob dfu.fail_at: 1")},
                    std::pair{std::string("kxp.version=3"), std::string("bad value for knob kxp.version: 3")},
                    std::pair{std::string("dfu.detach_stall=maybe"),
                              std::string("bad value for knob dfu.detach_stall: maybe")}));

// What a knob shows as its default is a value it accepts, and setting it
// changes nothing: help texts never lie about the defaults.
TEST(KnobTable, DefaultsRoundTrip) {
    const SimConfig defaults;
    for (const auto& knob : sim::knob_table()) {
        if (!knob.show) continue;
        const std::string shown = knob.show(defaults);
        if (shown.starts_with("(")) continue;  // "(device's own)": no value to give
        SimConfig config;
        if (knob.name == "dfu.fail_at") continue;  // "none" is no REQUEST:K pair
        ASSERT_TRUE(knob.set(config, shown)) << knob.name << "=" << shown;
        EXPECT_EQ(knob.show(config), shown) << knob.name;
    }
}

TEST(KnobTable, HelpListsEveryKnobWithItsDefault) {
    const std::string help = sim::sim_help_text();
    const SimConfig defaults;
    for (const auto& knob : sim::knob_table()) {
        const std::string line = "  " + std::string(knob.name) +
                                 (knob.show ? " (default " + knob.show(defaults) + ")" : std::string()) + "\n      " +
                                 std::string(knob.help) + "\n";
        EXPECT_NE(help.find(line), std::string::npos) << knob.name;
    }
    for (const auto& kind : sim::device_kinds())
        EXPECT_NE(help.find("  " + std::string(kind.name) + ": "), std::string::npos) << kind.name;
}

std::vector<char*> argv_of(std::vector<std::string>& storage) {
    std::vector<char*> args;
    for (auto& s : storage) args.push_back(s.data());
    return args;
}

TEST(SimOptions, TakesItsOwnOptionsAndLeavesTheRest) {
    std::vector<std::string> storage = {"flash-tool-sim", "-n", "--sim-set", "native.identify_status=3",
                                        "--sim-device=bridge", "-r", "--sim-trace", "/tmp/x.jsonl",
                                        "--sim-realtime", "--sim-set=touch.serial=Z9", "--sim-replay", "r.jsonl.gz",
                                        "--", "--sim-help"};
    auto args = argv_of(storage);
    sim::SimOptions options;
    std::string error;
    ASSERT_TRUE(sim::sim_take_options(args, options, error)) << error;
    std::vector<std::string> kept(args.begin(), args.end());
    EXPECT_EQ(kept, (std::vector<std::string>{"flash-tool-sim", "-n", "-r", "--", "--sim-help"}));
    EXPECT_EQ(options.config.device, "bridge");
    EXPECT_EQ(options.config.touch.native.identify_status, 3);
    EXPECT_EQ(options.config.touch.serial, "Z9");
    EXPECT_EQ(options.trace_file, "/tmp/x.jsonl");
    EXPECT_EQ(options.replay_file, "r.jsonl.gz");
    EXPECT_TRUE(options.realtime);
    EXPECT_FALSE(options.help);
}

TEST(SimOptions, Errors) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"p", "--sim-bogus"}, "unknown option: --sim-bogus"},
        {{"p", "--sim-set"}, "option --sim-set needs KEY=VALUE"},
        {{"p", "--sim-trace"}, "option --sim-trace needs a file name"},
        {{"p", "--sim-replay"}, "option --sim-replay needs a file name"},
        {{"p", "--sim-device=wat"}, "unknown device: wat"},
        {{"p", "--sim-set=device=wat"}, "unknown device: wat"},
        {{"p", "--sim-set=nosuch=1"}, "unknown knob: nosuch"},
        {{"p", "--sim-settle"}, "unknown option: --sim-settle"},
    };
    for (auto [storage, message] : cases) {
        auto args = argv_of(storage);
        sim::SimOptions options;
        std::string error;
        EXPECT_FALSE(sim::sim_take_options(args, options, error)) << storage[1];
        EXPECT_EQ(error, message);
    }
}

TEST(DeviceRegistry, EveryKindBuildsItsDevice) {
    struct Case {
        std::string kind;
        std::size_t models;
        std::uint16_t product_id;
    };
    SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::knob_assign(config, "touch.serial=K1", error));
    for (const Case& c : {Case{"touch", 1, 0x0001}, Case{"bridge", 1, 0x800E}, Case{"dfu", 1, 0x0004},
                          Case{"none", 0, 0}}) {
        const auto* kind = sim::find_device_kind(c.kind);
        ASSERT_NE(kind, nullptr) << c.kind;
        sim::Clock clock;
        auto models = kind->make(config, clock);
        ASSERT_EQ(models.size(), c.models) << c.kind;
        if (models.empty()) continue;
        ASSERT_TRUE(models[0]->present(0)) << c.kind;
        const auto device = models[0]->device_descriptor();
        EXPECT_EQ(le16(device, 10), c.product_id) << c.kind;
        if (c.kind != "bridge") {
            const auto serial = models[0]->string_descriptor(device[16], 0x0409);
            ASSERT_TRUE(serial.has_value()) << c.kind;
            EXPECT_EQ(sim::decode_string_descriptor(*serial), "K1") << c.kind;
        }
    }
    EXPECT_EQ(sim::find_device_kind("other"), nullptr);
}

}  // namespace
