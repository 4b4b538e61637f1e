// The download, manifestation wait, status text upload, idle and detach
// sequences against a scripted device.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "dfu/dfu_transfer.h"
#include "dfu_fake_platform.h"

namespace {

using dfu_test::FakePlatform;
using dfu_test::Reply;
using dfu_test::status_reply;
using platform::UsbError;

struct Event {
    dfu_event event;
    int value;
    bool operator==(const Event&) const = default;
};

struct Recorder {
    std::vector<Event> events;
    std::vector<std::string> texts;
    dfu_event_fn callback() {
        return [this](dfu_device&, dfu_event event, int value, const char* text) {
            events.push_back({event, value});
            if (text != nullptr) texts.emplace_back(text);
        };
    }
    std::vector<int> values(dfu_event wanted) const {
        std::vector<int> found;
        for (const Event& e : events)
            if (e.event == wanted) found.push_back(e.value);
        return found;
    }
};

std::vector<std::uint8_t> image_of(std::size_t length) {
    std::vector<std::uint8_t> image(length);
    for (std::size_t i = 0; i < length; ++i) image[i] = static_cast<std::uint8_t>(i * 7 + 3);
    return image;
}

Reply upload_of(const std::string& text) { return {UsbError::none, {text.begin(), text.end()}, {}}; }

using Blocks = std::vector<std::pair<std::uint16_t, std::size_t>>;

Blocks dnload_blocks(const FakePlatform& fake) {
    Blocks blocks;
    for (const auto& call : fake.calls)
        if (call.request() == DFU_DNLOAD) blocks.emplace_back(call.value(), call.length());
    return blocks;
}

TEST(DfuTransfer, SendsFullBlocksTheRemainderAndAZeroLengthBlock) {
    const struct {
        std::size_t length;
        Blocks blocks;
        std::vector<int> progress;
    } cases[] = {
        {0, {{0, 0}}, {0, 0}},
        {1, {{0, 1}, {1, 0}}, {0, 1, 1}},
        {4096, {{0, 4096}, {1, 0}}, {0, 4096, 4096}},
        {4097, {{0, 4096}, {1, 1}, {2, 0}}, {0, 4096, 4097, 4097}},
        {3 * 4096 + 100, {{0, 4096}, {1, 4096}, {2, 4096}, {3, 100}, {4, 0}}, {0, 4096, 8192, 12288, 12388, 12388}},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        Recorder recorder;
        const auto image = image_of(c.length);
        EXPECT_TRUE(dfu_transfer(*device, std::span<const std::uint8_t>(image), recorder.callback()).ok());
        EXPECT_EQ(dnload_blocks(fake), c.blocks) << c.length;
        EXPECT_EQ(recorder.values(DFU_EVENT_PROGRESS), c.progress) << c.length;
        std::vector<std::uint8_t> sent;
        for (const auto& call : fake.calls)
            if (call.request() == DFU_DNLOAD) sent.insert(sent.end(), call.data.begin(), call.data.end());
        EXPECT_EQ(sent, image);
    }
}

TEST(DfuTransfer, RunsTheEventsOfADownloadInOrder) {
    FakePlatform fake;
    fake.replies[DFU_GETSTATUS] = {status_reply(DFU_STATE_IDLE), status_reply(DFU_STATE_MANIFEST),
                                   status_reply(DFU_STATE_MANIFEST), status_reply(DFU_STATE_IDLE)};
    fake.replies[DFU_UPLOAD] = {upload_of("Image OK")};
    dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
    Recorder recorder;
    const auto image = image_of(10);
    EXPECT_TRUE(dfu_transfer(*device, std::span<const std::uint8_t>(image), recorder.callback()).ok());
    const std::vector<Event> expected = {
        {DFU_EVENT_TRANSFER_BEGIN, 0}, {DFU_EVENT_PROGRESS, 0},     {DFU_EVENT_PROGRESS, 10},
        {DFU_EVENT_PROGRESS, 10},      {DFU_EVENT_MANIFEST_BEGIN, 0}, {DFU_EVENT_MANIFEST_POLL, 0},
        {DFU_EVENT_MANIFEST_POLL, 0},  {DFU_EVENT_MANIFEST_POLL, 0}, {DFU_EVENT_TRANSFER_END, 1},
        {DFU_EVENT_TEXT_BEGIN, 0},     {DFU_EVENT_TEXT, 2},
    };
    EXPECT_EQ(recorder.events, expected);
    // No status request between the blocks; one poll per 100 ms sleep.
    const std::vector<std::uint8_t> requests = {DFU_GETSTATUS, DFU_DNLOAD, DFU_DNLOAD, DFU_GETSTATUS,
                                                DFU_GETSTATUS, DFU_GETSTATUS, DFU_GETSTATUS, DFU_UPLOAD};
    EXPECT_EQ(fake.requests(), requests);
    EXPECT_EQ(fake.clock_ms, 300u);
    EXPECT_STREQ(dfu_status_text(*device), "Image OK");
}

TEST(DfuTransfer, AShortDnloadAdvancesByTheCountMoved) {
    FakePlatform fake;
    fake.replies[DFU_DNLOAD] = {{UsbError::none, {}, std::size_t{1000}}};
    dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
    const auto image = image_of(5000);
    EXPECT_TRUE(dfu_transfer(*device, std::span<const std::uint8_t>(image), nullptr).ok());
    EXPECT_EQ(dnload_blocks(fake), (Blocks{{0, 4096}, {1, 4000}, {2, 0}}));
    ASSERT_GE(fake.calls.size(), 3u);
    EXPECT_EQ(fake.calls[2].data, std::vector<std::uint8_t>(image.begin() + 1000, image.end()));
}

TEST(DfuTransfer, CommunicationFailuresNameTheirRequest) {
    const struct {
        const char* name;
        std::map<std::uint8_t, std::deque<Reply>> replies;
        int request;
        std::vector<int> transfer_end;
        std::size_t requests;
    } cases[] = {
        {"first status", {{DFU_GETSTATUS, {dfu_test::failure()}}}, DFU_FAILED_GETSTATUS, {}, 1},
        {"clear error",
         {{DFU_GETSTATUS, {status_reply(DFU_STATE_ERROR, 7)}}, {DFU_CLRSTATUS, {dfu_test::failure()}}},
         DFU_FAILED_CLRSTATUS, {}, 2},
        {"abort download",
         {{DFU_GETSTATUS, {status_reply(DFU_STATE_DNLOAD_IDLE)}}, {DFU_ABORT, {dfu_test::failure()}}},
         DFU_FAILED_ABORT, {}, 2},
        {"second block", {{DFU_DNLOAD, {Reply{}, dfu_test::failure()}}}, DFU_FAILED_DNLOAD, {0}, 3},
        {"block moves nothing", {{DFU_DNLOAD, {Reply{UsbError::none, {}, std::size_t{0}}}}},
         DFU_FAILED_DNLOAD, {0}, 2},
        {"manifestation poll",
         {{DFU_GETSTATUS, {status_reply(DFU_STATE_IDLE), status_reply(DFU_STATE_MANIFEST), dfu_test::failure()}}},
         DFU_FAILED_MANIFEST_POLL, {0}, 6},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies = c.replies;
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        Recorder recorder;
        const auto image = image_of(8192);
        const outcome expected = failed(failure::communication, c.request);
        EXPECT_EQ(dfu_transfer(*device, std::span<const std::uint8_t>(image), recorder.callback()), expected) << c.name;
        EXPECT_EQ(device->failure, expected) << c.name;
        EXPECT_EQ(recorder.values(DFU_EVENT_TRANSFER_END), c.transfer_end) << c.name;
        EXPECT_EQ(fake.calls.size(), c.requests) << c.name;
        EXPECT_TRUE(recorder.values(DFU_EVENT_TEXT).empty()) << c.name;
    }
}

TEST(DfuTransfer, AManifestationThatNeverEndsIsGivenUp) {
    FakePlatform fake;
    fake.idle_status = status_reply(DFU_STATE_MANIFEST).in;
    fake.replies[DFU_GETSTATUS] = {status_reply(DFU_STATE_IDLE)};
    dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
    Recorder recorder;
    const auto image = image_of(16);
    EXPECT_EQ(dfu_transfer(*device, std::span<const std::uint8_t>(image), recorder.callback()),
              failed(failure::communication, DFU_FAILED_MANIFEST_TIMEOUT));
    EXPECT_EQ(recorder.values(DFU_EVENT_MANIFEST_POLL).size(), std::size_t(DFU_MANIFEST_MAX_POLLS));
    EXPECT_EQ(recorder.values(DFU_EVENT_TRANSFER_END), std::vector<int>{0});
    EXPECT_EQ(fake.clock_ms, std::uint64_t{DFU_MANIFEST_MAX_POLLS} * DFU_MANIFEST_POLL_MS);
}

TEST(DfuTransfer, EveryStateOfManifestationIsPolledUntilIdle) {
    // dfuMANIFEST-SYNC and dfuMANIFEST are not the end: a tool that stopped
    // at them would detach a device that is still writing its flash.
    FakePlatform fake;
    fake.replies[DFU_GETSTATUS] = {status_reply(DFU_STATE_DNLOAD_IDLE), status_reply(DFU_STATE_MANIFEST_SYNC),
                                   status_reply(DFU_STATE_MANIFEST_SYNC), status_reply(DFU_STATE_MANIFEST),
                                   status_reply(DFU_STATE_IDLE)};
    dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
    Recorder recorder;
    const auto image = image_of(16);
    EXPECT_TRUE(dfu_transfer(*device, std::span<const std::uint8_t>(image), recorder.callback()).ok());
    EXPECT_EQ(recorder.values(DFU_EVENT_MANIFEST_POLL).size(), 4u);
}

TEST(DfuTransfer, ADeviceErrorAfterManifestationIsClearedAndReported) {
    const struct {
        std::uint8_t status;
        outcome result;
    } cases[] = {
        {7, failed(failure::device_status, 7)},
        {200, failed(failure::device_status, 200)},
        {0, succeeded()},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies[DFU_GETSTATUS] = {status_reply(DFU_STATE_IDLE), status_reply(DFU_STATE_ERROR, c.status),
                                       status_reply(DFU_STATE_ERROR, c.status)};
        fake.replies[DFU_UPLOAD] = {upload_of("CRC mismatch")};
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        Recorder recorder;
        const auto image = image_of(100);
        EXPECT_EQ(dfu_transfer(*device, std::span<const std::uint8_t>(image), recorder.callback()), c.result);
        EXPECT_EQ(device->failure, c.result);
        EXPECT_EQ(recorder.values(DFU_EVENT_TRANSFER_END), std::vector<int>{-1});
        EXPECT_EQ(recorder.values(DFU_EVENT_TEXT), std::vector<int>{2});
        const std::vector<std::uint8_t> tail = {DFU_GETSTATUS, DFU_GETSTATUS, DFU_CLRSTATUS, DFU_UPLOAD};
        const auto requests = fake.requests();
        EXPECT_EQ(std::vector<std::uint8_t>(requests.end() - 4, requests.end()), tail);
        EXPECT_STREQ(dfu_status_text(*device), "CRC mismatch");
    }
}

TEST(DfuTransfer, UploadsTheStatusText) {
    const std::string full(64, 'x');
    const struct {
        const char* name;
        std::deque<Reply> uploads;
        int text_event;
        std::string text;
        std::size_t requests;
    } cases[] = {
        {"one short block", {upload_of("v1.2")}, 1, "v1.2", 1},
        {"full block then empty", {upload_of(full), upload_of("")}, 1, full, 2},
        {"empty", {upload_of("")}, -1, "", 1},
        {"NULs become spaces", {upload_of(std::string("a\0b\0", 4))}, 1, "a b ", 1},
        {"first request fails", {dfu_test::failure()}, -1, "", 1},
        {"later request fails", {upload_of(full), dfu_test::failure()}, -1, "", 2},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies[DFU_UPLOAD] = c.uploads;
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        Recorder recorder;
        EXPECT_TRUE(dfu_transfer(*device, std::nullopt, recorder.callback()).ok()) << c.name;
        EXPECT_EQ(recorder.values(DFU_EVENT_TEXT), std::vector<int>{c.text_event}) << c.name;
        EXPECT_EQ(std::string(dfu_status_text(*device)), c.text) << c.name;
        std::vector<std::uint16_t> blocks;
        for (const auto& call : fake.calls)
            if (call.request() == DFU_UPLOAD) blocks.push_back(call.value());
        EXPECT_EQ(blocks.size(), c.requests) << c.name;
        for (std::size_t i = 0; i < blocks.size(); ++i) EXPECT_EQ(blocks[i], i) << c.name;
    }
}

TEST(DfuTransfer, ATextIsKeptUpToTheBufferAndACutOneIsAborted) {
    const std::string full(DFU_UPLOAD_SIZE, 'z');
    const std::size_t room = DFU_TEXT_SIZE - 1;
    const struct {
        const char* name;
        std::deque<Reply> uploads;
        std::size_t kept;
        bool aborted;
    } cases[] = {
        {"endless", std::deque<Reply>(400, upload_of(full)), room, true},
        {"fills the buffer", [&] {
             std::deque<Reply> uploads(room / DFU_UPLOAD_SIZE, upload_of(full));
             uploads.push_back(upload_of(std::string(room % DFU_UPLOAD_SIZE, 'z')));
             return uploads;
         }(), room, false},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies[DFU_UPLOAD] = c.uploads;
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        Recorder recorder;
        EXPECT_TRUE(dfu_transfer(*device, std::nullopt, recorder.callback()).ok()) << c.name;
        EXPECT_EQ(std::string(dfu_status_text(*device)), std::string(c.kept, 'z')) << c.name;
        EXPECT_EQ(fake.requests().back(), c.aborted ? DFU_ABORT : DFU_UPLOAD) << c.name;
        EXPECT_EQ(recorder.values(DFU_EVENT_TEXT), std::vector<int>{1}) << c.name;
    }
}

TEST(DfuTransfer, WithoutAnImageNothingIsDownloaded) {
    FakePlatform fake;
    fake.replies[DFU_GETSTATUS] = {status_reply(DFU_STATE_UPLOAD_IDLE)};
    dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
    Recorder recorder;
    EXPECT_TRUE(dfu_transfer(*device, std::nullopt, recorder.callback()).ok());
    const std::vector<std::uint8_t> requests = {DFU_GETSTATUS, DFU_ABORT, DFU_GETSTATUS, DFU_UPLOAD};
    EXPECT_EQ(fake.requests(), requests);
    EXPECT_TRUE(recorder.values(DFU_EVENT_PROGRESS).empty());
}

TEST(DfuMakeIdle, ActsOnlyOnTheStatesThatNeedIt) {
    const struct {
        std::uint8_t state;
        std::vector<std::uint8_t> requests;
    } cases[] = {
        {DFU_STATE_APP_IDLE, {DFU_GETSTATUS}},
        {DFU_STATE_IDLE, {DFU_GETSTATUS}},
        {DFU_STATE_DNLOAD_IDLE, {DFU_GETSTATUS, DFU_ABORT}},
        {DFU_STATE_MANIFEST, {DFU_GETSTATUS}},
        {DFU_STATE_UPLOAD_IDLE, {DFU_GETSTATUS, DFU_ABORT}},
        {DFU_STATE_ERROR, {DFU_GETSTATUS, DFU_CLRSTATUS}},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies[DFU_GETSTATUS] = {status_reply(c.state)};
        dfu_device_ptr device = fake.open(DFU_PRODUCT_ID, 0);
        EXPECT_TRUE(dfu_make_idle(*device).ok());
        EXPECT_EQ(fake.requests(), c.requests) << int(c.state);
        EXPECT_TRUE(device->failure.ok());
    }
}

TEST(DfuLeaveMode, DetachesFromEitherMode) {
    const struct {
        const char* name;
        std::uint16_t product_id;
        std::map<std::uint8_t, std::deque<Reply>> replies;
        int result;
        std::vector<std::uint8_t> requests;
    } cases[] = {
        {"run-time", 0x0001, {}, 0, {DFU_DETACH}},
        {"run-time stall", 0x0001, {{DFU_DETACH, {dfu_test::failure(UsbError::general_failure)}}}, 0, {DFU_DETACH}},
        {"run-time failure", 0x0001, {{DFU_DETACH, {dfu_test::failure(UsbError::other)}}}, -1, {DFU_DETACH}},
        {"DFU idle", DFU_PRODUCT_ID, {}, 0, {DFU_GETSTATUS, DFU_DETACH}},
        {"DFU error", DFU_PRODUCT_ID, {{DFU_GETSTATUS, {status_reply(DFU_STATE_ERROR, 7)}}}, 0,
         {DFU_GETSTATUS, DFU_CLRSTATUS, DFU_DETACH}},
        {"DFU upload idle", DFU_PRODUCT_ID, {{DFU_GETSTATUS, {status_reply(DFU_STATE_UPLOAD_IDLE)}}}, 0,
         {DFU_GETSTATUS, DFU_ABORT, DFU_DETACH}},
        {"DFU download idle", DFU_PRODUCT_ID, {{DFU_GETSTATUS, {status_reply(DFU_STATE_DNLOAD_IDLE)}}}, 0,
         {DFU_GETSTATUS, DFU_ABORT, DFU_DETACH}},
        {"DFU status fails", DFU_PRODUCT_ID, {{DFU_GETSTATUS, {dfu_test::failure()}}}, -1, {DFU_GETSTATUS}},
        {"DFU clear fails", DFU_PRODUCT_ID,
         {{DFU_GETSTATUS, {status_reply(DFU_STATE_ERROR)}}, {DFU_CLRSTATUS, {dfu_test::failure()}}}, -1,
         {DFU_GETSTATUS, DFU_CLRSTATUS}},
    };
    for (const auto& c : cases) {
        FakePlatform fake;
        fake.replies = c.replies;
        dfu_device_ptr device = fake.open(c.product_id, c.product_id == DFU_PRODUCT_ID ? 0 : 1);
        Recorder recorder;
        EXPECT_EQ(dfu_leave_mode(*device, "run-time", recorder.callback()).ok() ? 0 : -1, c.result) << c.name;
        EXPECT_EQ(fake.requests(), c.requests) << c.name;
        const std::vector<Event> events = {{DFU_EVENT_DETACH_BEGIN, 0}, {DFU_EVENT_DETACH_END, c.result == 0 ? 1 : 0}};
        EXPECT_EQ(recorder.events, events) << c.name;
        EXPECT_EQ(recorder.texts, std::vector<std::string>{"run-time"}) << c.name;
        EXPECT_TRUE(device->failure.ok()) << c.name;
        for (const auto& call : fake.calls)
            if (call.request() == DFU_DETACH) {
                EXPECT_EQ(call.value(), DFU_DETACH_TIMEOUT) << c.name;
            }
    }
}

}  // namespace
