// HID report descriptors as hidraw reads them from sysfs.
#include <cstdlib>

#include "platform/hid_report_descriptor.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    platform::HidReportDescriptor descriptor;
    if (!platform::hid_parse_report_descriptor({data, size}, descriptor)) return 0;
    for (const auto& collection : descriptor.collections) {
        for (const auto& report : collection.reports) {
            // Every report counted must fit the length the collection reports.
            const std::uint16_t length = report.kind == platform::HidReportKind::input    ? collection.input_report_length
                                         : report.kind == platform::HidReportKind::output ? collection.output_report_length
                                                                                          : collection.feature_report_length;
            if (!collection.has_report(report.kind, report.report_id) || (report.bits + 7) / 8 + 1 > length)
                std::abort();
        }
    }
    return 0;
}
