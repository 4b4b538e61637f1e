#include <gtest/gtest.h>
#include <sys/stat.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <vector>

#include "firmware/builtin_image.h"
#include "frontend/image.h"
#include "frontend/image_crc.h"
#include "usb/le.h"

namespace {

namespace fs = std::filesystem;

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        const auto* test = ::testing::UnitTest::GetInstance()->current_test_info();
        dir_ = fs::temp_directory_path() /
               ("ft_image_" + std::to_string(std::random_device{}()) + "_" + test->name());
        ASSERT_TRUE(fs::create_directory(dir_));
    }
    void TearDown() override { fs::remove_all(dir_); }

    std::string write(const char* name, const std::vector<std::uint8_t>& bytes) {
        const fs::path path = dir_ / name;
        std::ofstream out(path, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        return path.string();
    }

    fs::path dir_;
};

TEST_F(ImageFiles, ReadsARegularFileWhole) {
    std::vector<std::uint8_t> content(100'000);
    for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<std::uint8_t>(i * 7);
    const std::string path = write("fw.bin", content);
    std::vector<std::uint8_t> buffer{1, 2, 3};
    ASSERT_EQ(read_image_file(path.c_str(), buffer), image_read_status::ok);
    EXPECT_EQ(buffer, content);
}

TEST_F(ImageFiles, EmptyFileIsAZeroLengthImageThatStillExists) {
    const std::string path = write("empty.bin", {});
    std::vector<std::uint8_t> buffer{9};
    ASSERT_EQ(read_image_file(path.c_str(), buffer), image_read_status::ok);
    EXPECT_TRUE(buffer.empty());
    const firmware_image image = image_for(run_mode::file_upgrade, buffer);
    EXPECT_NE(image.data, nullptr);  // a null pointer would mean "no image" to the paths
    EXPECT_EQ(image.length, 0);
}

TEST_F(ImageFiles, RefusesWhatIsNotAReadableRegularFile) {
    const std::string missing = (dir_ / "missing.bin").string();
    const std::string directory = dir_.string();
    // A file of 2 GiB does not fit the image's signed 32-bit length. Sparse,
    // so it costs no disk space; refused before anything is allocated.
    const std::string huge = (dir_ / "huge.bin").string();
    write("huge.bin", {});
    fs::resize_file(huge, 0x8000'0000ULL);
    // Each refusal says why: the error line a user reads depends on it.
    std::vector<std::pair<std::string, image_read_status>> refused = {
        {missing, image_read_status::not_found},
        {directory, image_read_status::directory},
        {huge, image_read_status::too_large},
    };
#ifndef _WIN32
    // A FIFO without a writer must be refused, not waited on.
    const std::string fifo = (dir_ / "fifo").string();
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    refused.emplace_back(fifo, image_read_status::not_regular);
    // Root reads any file whatever its mode: the case needs another user.
    if (::geteuid() != 0) {
        const std::string locked = write("locked.bin", {1});
        fs::permissions(locked, fs::perms::none);
        refused.emplace_back(locked, image_read_status::permission_denied);
    }
#endif
    for (const auto& [path, status] : refused) {
        std::vector<std::uint8_t> buffer{1, 2, 3};
        EXPECT_EQ(read_image_file(path.c_str(), buffer), status) << path;
        EXPECT_TRUE(buffer.empty()) << path;
    }
}

struct mode_case {
    const char* name;
    bool reset;
    bool read_info;
    const char* image_path;
    run_mode expected;
};

class SelectMode : public ::testing::TestWithParam<mode_case> {};

TEST_P(SelectMode, FirstRuleThatAppliesWins) {
    const mode_case& c = GetParam();
    run_options options;
    options.reset = c.reset;
    options.read_info = c.read_info;
    options.image_path = c.image_path;
    EXPECT_EQ(select_mode(options), c.expected);
}

const mode_case MODE_CASES[] = {
    {"Nothing", false, false, nullptr, run_mode::builtin_upgrade},
    {"Image", false, false, "fw.dfu", run_mode::file_upgrade},
    {"ReadInfo", false, true, nullptr, run_mode::info},
    {"ReadInfoWithImage", false, true, "fw.dfu", run_mode::info},
    {"Reset", true, false, nullptr, run_mode::reset_only},
    {"ResetWithImage", true, false, "fw.dfu", run_mode::reset_only},
    {"ResetWithReadInfoAndImage", true, true, "fw.dfu", run_mode::reset_only},
};

INSTANTIATE_TEST_SUITE_P(Frontend, SelectMode, ::testing::ValuesIn(MODE_CASES),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(ImageFor, ModesWithoutAnImageGiveNone) {
    const std::vector<std::uint8_t> file{1, 2};
    for (run_mode mode : {run_mode::reset_only, run_mode::info}) {
        const firmware_image image = image_for(mode, file);
        EXPECT_EQ(image.data, nullptr);
        EXPECT_EQ(image.length, 0);
    }
    const firmware_image from_file = image_for(run_mode::file_upgrade, file);
    EXPECT_EQ(from_file.data, file.data());
    EXPECT_EQ(from_file.length, 2);
}

TEST(BuiltinImage, IsTheEmbeddedDfuFile) {
    const auto image = builtin_image();
    const firmware_image chosen = image_for(run_mode::builtin_upgrade, {});
    EXPECT_EQ(chosen.data, image.data());
    EXPECT_EQ(chosen.length, static_cast<std::int32_t>(image.size()));
    ASSERT_GE(image.size(), 16u);
    const auto suffix = image.last(16);
    EXPECT_EQ(le16(suffix, 0), 0xFFFF);  // bcdDevice
    EXPECT_EQ(le16(suffix, 2), 0xFFFF);  // idProduct
    EXPECT_EQ(le16(suffix, 4), DEVICE_VENDOR_ID);
    EXPECT_EQ(le16(suffix, 6), 0x0100);  // bcdDFU
    EXPECT_EQ(std::string(suffix.begin() + 8, suffix.begin() + 11), "UFD");
    EXPECT_EQ(suffix[11], 16);
    // DFU 1.1 CRC: the standard CRC-32 without its final inversion.
    const auto covered = static_cast<uInt>(image.size() - 4);
    EXPECT_EQ(le32(suffix, 12), crc32(0, image.data(), covered) ^ 0xFFFFFFFFu);
}

// The version text's checksum: a DFU file by its suffix's dwCRC, anything
// else by the ordinary CRC-32 (the standard check value for "123456789").
TEST(ImageCrc, DfuFileBySuffixOtherImagesWhole) {
    const auto image = builtin_image();
    EXPECT_EQ(image_crc32(image), le32(image.last(16), 12));
    const std::string check = "123456789";
    EXPECT_EQ(image_crc32({reinterpret_cast<const std::uint8_t*>(check.data()), check.size()}), 0xCBF43926u);
    EXPECT_EQ(image_crc32(image.first(image.size() - 1)), crc32(0, image.data(), static_cast<uInt>(image.size() - 1)));
}

}  // namespace
