#include "sim/sim_platform.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>

#include "sim/configuration_view.h"
#include "sim/usb_descriptors.h"
#include "usb/le.h"

namespace sim {
namespace {

using platform::UsbError;

constexpr std::uint8_t CLASS_HID = 0x03;
constexpr std::uint8_t REQUEST_GET_DESCRIPTOR = 0x06;
constexpr std::uint8_t HID_GET_REPORT = 0x01;
constexpr std::uint8_t HID_SET_REPORT = 0x09;
constexpr std::uint16_t HID_FEATURE_REPORT = 0x0300;

// Names of the device namespace that belong to no simulated device, so that
// matching by substring is exercised against them.
const char* const UNRELATED_NAMES[] = {
    "C:",
    "COM1",
    "USB#ROOT_HUB30#4&2851d19&0&0#{f18a0e88-c30c-11d0-8815-00a0c906bed8}",
};

std::string lower(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return text;
}

bool same_name(const std::string& a, const std::string& b) { return lower(a) == lower(b); }

// CreateFileA gets the name behind the "\\?\" (or "\\.\") prefix.
std::string strip_path_prefix(const std::string& name) {
    if (name.size() >= 4 && name[0] == '\\' && name[1] == '\\' && (name[2] == '?' || name[2] == '.') &&
        name[3] == '\\')
        return name.substr(4);
    return name;
}

// Names are formed from numbers only; 128 bytes hold any of them.
template <typename... Numbers>
std::string format(const char* pattern, Numbers... numbers) {
    char text[128];
    std::snprintf(text, sizeof text, pattern, numbers...);
    return text;
}

UsbError usb_error(TransferStatus status) {
    switch (status) {
        case TransferStatus::ack: return UsbError::none;
        case TransferStatus::stall: return UsbError::general_failure;
        case TransferStatus::gone: return UsbError::device_gone;
    }
    return UsbError::other;
}

SetupPacket decode_setup(const std::uint8_t (&setup)[8]) {
    const std::span<const std::uint8_t> bytes(setup);
    return {setup[0], setup[1], le16(bytes, 2), le16(bytes, 4), le16(bytes, 6)};
}

}  // namespace

namespace {

// The timeline the calling thread is bound to; null: the base clock.
thread_local Clock* bound_timeline = nullptr;

}  // namespace

SimPlatform::SimPlatform(Clock& clock, bool realtime) : clock_(clock), realtime_(realtime) {}

void SimPlatform::bind_thread(Clock* timeline) { bound_timeline = timeline; }

void SimPlatform::attach(std::shared_ptr<UsbDeviceModel> model, std::string location, PortBehaviour behaviour,
                         Clock* timeline) {
    const std::lock_guard lock(mutex_);
    const unsigned id = next_slot_++;
    if (location.empty()) location = "1-" + std::to_string(id);
    slots_.push_back({id, std::move(model), std::move(location), behaviour, timeline});
}

std::uint64_t SimPlatform::time_of(const Slot& slot) const {
    return slot.timeline != nullptr ? slot.timeline->now() : clock_.now();
}

std::uint64_t SimPlatform::time_on(unsigned slot_id) const {
    for (const Slot& slot : slots_)
        if (slot.id == slot_id) return time_of(slot);
    return bound_timeline != nullptr ? bound_timeline->now() : clock_.now();
}

void SimPlatform::detach(const std::shared_ptr<UsbDeviceModel>& model) {
    const std::lock_guard lock(mutex_);
    std::erase_if(slots_, [&](const Slot& slot) { return slot.model == model; });
}

SimPlatform::Table SimPlatform::usb_names() {
    Table table;
    for (const auto& slot : slots_) {
        auto& model = *slot.model;
        if (!on_bus(slot)) continue;
        const auto device = model.device_descriptor();
        if (device.size() < 18) continue;
        const unsigned vid = le16(device, 8), pid = le16(device, 10);
        const auto interfaces = parse_configuration(model.configuration_descriptor());
        std::vector<InterfaceView> first_settings;
        for (const auto& view : interfaces)
            if (view.info.alternate_setting == 0) first_settings.push_back(view);

        std::string serial;
        const bool has_serial = serial_of(model, serial);
        for (const auto& view : first_settings) {
            Target target{slot.id, slot.model, model.connection(), view.info.interface_number,
                          view.info.interface_class, {}, false};
            const unsigned number = view.info.interface_number;
            // A composite device's interfaces carry "&MI_nn"; a single
            // interface is the device itself, named by its serial if it has one.
            const bool composite = first_settings.size() > 1;
            const std::string ids = format("VID_%04X&PID_%04X", vid, pid) +
                                    (composite ? format("&MI_%02u", number) : std::string());
            if (view.info.interface_class == CLASS_HID) {
                // The HID class driver's own name for the interface comes
                // first: it matches the same patterns but is no WinUSB device.
                table.emplace_back("HID#" + ids + format("#8&%08x&0&%04u#", slot.id * 0x1F3Bu, number) + HID_DEVICE_GUID,
                                   target);
            }
            std::string instance;
            if (composite) instance = format("7&%08x&0&%04u", slot.id * 0x3A1Du, number);
            else if (has_serial) instance = serial;
            else instance = format("6&%08x&0&%u", slot.id * 0x2C7Du, slot.id);
            const std::string name = "USB#" + ids + "#" + instance;
            table.emplace_back(name + "#" + USB_DEVICE_GUID, target);
        }
    }
    return table;
}

std::uintptr_t SimPlatform::denied(const Target& target) {
    const std::lock_guard lock(mutex_);
    const Slot* slot = slot_of(target);
    const auto device = target.model->device_descriptor();
    platform::UnopenedDevice entry{le16(device, 8), le16(device, 10), slot != nullptr ? slot->location : "",
                                   "permission denied"};
    const bool known = std::any_of(unopened_.begin(), unopened_.end(), [&](const platform::UnopenedDevice& seen) {
        return seen.location == entry.location;
    });
    if (!known) unopened_.push_back(std::move(entry));
    last_error_ = "EACCES";
    return 0;
}

std::string SimPlatform::inaccessible_device_hint() {
    const std::lock_guard lock(mutex_);
    if (unopened_.empty()) return "";
    char ids[16];
    std::snprintf(ids, sizeof ids, "%.4X:%.4X", static_cast<unsigned>(unopened_.front().vendor_id),
                  static_cast<unsigned>(unopened_.front().product_id));
    return "Device " + std::string(ids) + " at USB " + unopened_.front().location +
           " is present but not accessible (permission denied)";
}

bool SimPlatform::usb_device_names(std::vector<std::string>& names) {
    const std::lock_guard lock(mutex_);
    unopened_.clear();
    names.assign(std::begin(UNRELATED_NAMES), std::end(UNRELATED_NAMES));
    for (auto& [name, target] : usb_names()) names.push_back(name);
    return true;
}

platform::UsbHandle SimPlatform::usb_open(const std::string& name) {
    const std::lock_guard lock(mutex_);
    last_error_.clear();
    const std::string wanted = strip_path_prefix(name);
    for (auto& [entry, target] : usb_names()) {
        if (!same_name(entry, wanted)) continue;
        // WinUSB drives vendor, DFU and other interfaces that are bound to
        // it; a HID interface belongs to the HID class driver and cannot be
        // opened this way.
        if (target.interface_class == CLASS_HID || entry.rfind("HID#", 0) == 0) return 0;
        const Slot* slot = slot_of(target);
        if (slot == nullptr || !slot->behaviour.winusb) return 0;
        if (slot->behaviour.access_denied) return denied(target);
        const auto handle = next_handle_++;
        usb_handles_.emplace(handle, target);
        return handle;
    }
    return 0;
}

void SimPlatform::usb_close(platform::UsbHandle handle) {
    const std::lock_guard lock(mutex_);
    usb_handles_.erase(handle);
}

bool SimPlatform::on_bus(const Slot& slot) const {
    const std::uint64_t now = time_of(slot);
    if (now < slot.behaviour.arrive_ms) return false;
    if (slot.behaviour.unplug_ms && now >= *slot.behaviour.unplug_ms &&
        (!slot.behaviour.replug_ms || now < *slot.behaviour.replug_ms))
        return false;
    return slot.model->present(now);
}

bool SimPlatform::alive(const Target& target) {
    const auto slot = std::find_if(slots_.begin(), slots_.end(),
                                   [&](const Slot& each) { return each.id == target.slot; });
    return slot != slots_.end() && on_bus(*slot) && target.model->connection() == target.connection;
}

const SimPlatform::Target* SimPlatform::live_usb(platform::UsbHandle handle) {
    const auto it = usb_handles_.find(handle);
    if (it == usb_handles_.end() || !alive(it->second)) return nullptr;
    return &it->second;
}

const SimPlatform::Target* SimPlatform::live_hid(platform::HidHandle handle) {
    const auto it = hid_handles_.find(handle);
    if (it == hid_handles_.end() || !alive(it->second)) return nullptr;
    return &it->second;
}

bool SimPlatform::usb_get_descriptor(platform::UsbHandle handle, std::uint8_t type, std::uint8_t index,
                                     std::uint16_t language, std::span<std::uint8_t> buffer,
                                     std::size_t& transferred) {
    const std::lock_guard lock(mutex_);
    transferred = 0;
    const Target* target = live_usb(handle);
    if (target == nullptr) return false;
    const std::uint8_t setup[8] = {0x80,
                                   REQUEST_GET_DESCRIPTOR,
                                   index,
                                   type,
                                   static_cast<std::uint8_t>(language),
                                   static_cast<std::uint8_t>(language >> 8),
                                   static_cast<std::uint8_t>(std::min<std::size_t>(buffer.size(), 0xFFFF)),
                                   static_cast<std::uint8_t>(std::min<std::size_t>(buffer.size(), 0xFFFF) >> 8)};
    return usb_control_transfer(handle, setup, buffer.first(std::min<std::size_t>(buffer.size(), 0xFFFF)),
                                transferred) == UsbError::none;
}

UsbError SimPlatform::usb_control_transfer(platform::UsbHandle handle, const std::uint8_t (&setup)[8],
                                           std::span<std::uint8_t> buffer, std::size_t& transferred) {
    const std::lock_guard lock(mutex_);
    transferred = 0;
    const auto it = usb_handles_.find(handle);
    if (it == usb_handles_.end()) return UsbError::other;
    const Target* target = live_usb(handle);
    if (target == nullptr) return UsbError::device_gone;
    const SetupPacket packet = decode_setup(setup);
    // The data stage is wLength bytes; a buffer shorter than that is an
    // invalid parameter, as WinUSB reports it.
    if (buffer.size() < packet.length) return UsbError::other;
    const auto data = buffer.first(packet.length);
    auto& model = *target->model;

    // The host answers the standard descriptor requests from the
    // descriptors the device gave at enumeration.
    if (packet.request_type == 0x80 && packet.request == REQUEST_GET_DESCRIPTOR) {
        const std::uint8_t type = static_cast<std::uint8_t>(packet.value >> 8);
        const std::uint8_t index = static_cast<std::uint8_t>(packet.value);
        std::optional<std::vector<std::uint8_t>> bytes;
        if (type == DESC_DEVICE) bytes = model.device_descriptor();
        else if (type == DESC_CONFIGURATION && index == 0) bytes = model.configuration_descriptor();
        else if (type == DESC_STRING) bytes = model.string_descriptor(index, packet.index);
        if (!bytes) return UsbError::general_failure;
        transferred = std::min(bytes->size(), data.size());
        std::copy_n(bytes->begin(), transferred, data.begin());
        return UsbError::none;
    }
    std::size_t moved = 0;
    const TransferStatus status = model.control(time_on(target->slot), packet, data, moved);
    if (status == TransferStatus::ack) transferred = std::min(moved, data.size());
    return usb_error(status);
}

bool SimPlatform::owns_pipe(const Target& target, std::uint8_t pipe_id) {
    const auto view = find_interface(target.model->configuration_descriptor(), target.interface_number, 0);
    return view && std::any_of(view->pipes.begin(), view->pipes.end(),
                               [&](const platform::UsbPipeInfo& p) { return p.pipe_id == pipe_id; });
}

UsbError SimPlatform::usb_read_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                    std::span<std::uint8_t> buffer, std::size_t& transferred) {
    const std::lock_guard lock(mutex_);
    transferred = 0;
    if (usb_handles_.find(handle) == usb_handles_.end()) return UsbError::other;
    const Target* target = live_usb(handle);
    if (target == nullptr) return UsbError::device_gone;
    // WinUSB refuses a pipe of another interface or of the other direction.
    if (!owns_pipe(*target, pipe_id) || (pipe_id & 0x80) == 0) return UsbError::other;
    std::size_t moved = 0;
    const TransferStatus status = target->model->bulk(time_on(target->slot), pipe_id, buffer, moved);
    if (status == TransferStatus::ack) transferred = std::min(moved, buffer.size());
    return usb_error(status);
}

UsbError SimPlatform::usb_write_pipe(platform::UsbHandle handle, std::uint8_t pipe_id,
                                     std::span<const std::uint8_t> buffer, std::size_t& transferred) {
    const std::lock_guard lock(mutex_);
    transferred = 0;
    if (usb_handles_.find(handle) == usb_handles_.end()) return UsbError::other;
    const Target* target = live_usb(handle);
    if (target == nullptr) return UsbError::device_gone;
    if (!owns_pipe(*target, pipe_id) || (pipe_id & 0x80) != 0) return UsbError::other;
    std::vector<std::uint8_t> copy(buffer.begin(), buffer.end());
    std::size_t moved = 0;
    const TransferStatus status = target->model->bulk(time_on(target->slot), pipe_id, copy, moved);
    if (status == TransferStatus::ack) transferred = std::min(moved, buffer.size());
    return usb_error(status);
}

bool SimPlatform::usb_interface_settings(platform::UsbHandle handle, std::uint8_t alternate,
                                         platform::UsbInterfaceInfo& info) {
    const std::lock_guard lock(mutex_);
    const Target* target = live_usb(handle);
    if (target == nullptr) return false;
    const auto view = find_interface(target->model->configuration_descriptor(), target->interface_number, alternate);
    if (!view) return false;
    info = view->info;
    return true;
}

bool SimPlatform::usb_query_pipe(platform::UsbHandle handle, std::uint8_t alternate, std::uint8_t pipe_index,
                                 platform::UsbPipeInfo& info) {
    const std::lock_guard lock(mutex_);
    const Target* target = live_usb(handle);
    if (target == nullptr) return false;
    const auto view = find_interface(target->model->configuration_descriptor(), target->interface_number, alternate);
    if (!view || pipe_index >= view->pipes.size()) return false;
    info = view->pipes[pipe_index];
    return true;
}

bool SimPlatform::serial_of(UsbDeviceModel& model, std::string& serial) {
    const auto device = model.device_descriptor();
    if (device.size() < 18 || device[16] == 0) return false;
    const auto languages = model.string_descriptor(0, 0);
    if (!languages || languages->size() < 4) return false;
    const auto text = model.string_descriptor(device[16], le16(*languages, 2));
    if (!text) return false;
    serial = decode_string_descriptor(*text);
    return true;
}

bool SimPlatform::usb_serial_number(platform::UsbHandle handle, std::string& serial) {
    const std::lock_guard lock(mutex_);
    const Target* target = live_usb(handle);
    return target != nullptr && serial_of(*target->model, serial);
}

const SimPlatform::Slot* SimPlatform::slot_of(const Target& target) const {
    for (const Slot& slot : slots_)
        if (slot.id == target.slot) return &slot;
    return nullptr;
}

bool SimPlatform::placement_of(const Target* target, platform::UsbPlacement& placement) const {
    const Slot* slot = target != nullptr ? slot_of(*target) : nullptr;
    if (slot == nullptr || !slot->behaviour.reports_location) return false;
    placement.location = slot->location;
    placement.enumeration.reset();
    if (slot->behaviour.gives_token) placement.enumeration = target->connection;
    return true;
}

bool SimPlatform::usb_placement(platform::UsbHandle handle, platform::UsbPlacement& placement) {
    const std::lock_guard lock(mutex_);
    return placement_of(live_usb(handle), placement);
}

bool SimPlatform::hid_placement(platform::HidHandle handle, platform::UsbPlacement& placement) {
    const std::lock_guard lock(mutex_);
    return placement_of(live_hid(handle), placement);
}

SimPlatform::Table SimPlatform::hid_table() {
    Table table;
    for (const auto& slot : slots_) {
        auto& model = *slot.model;
        if (!on_bus(slot)) continue;
        const auto device = model.device_descriptor();
        if (device.size() < 18) continue;
        const unsigned vid = le16(device, 8), pid = le16(device, 10);
        std::vector<InterfaceView> hid_interfaces;
        std::size_t interface_count = 0;
        for (const auto& view : parse_configuration(model.configuration_descriptor())) {
            if (view.info.alternate_setting != 0) continue;
            ++interface_count;
            if (view.info.interface_class == CLASS_HID) hid_interfaces.push_back(view);
        }
        for (const auto& view : hid_interfaces) {
            // The HID class driver only starts on a report descriptor it can parse.
            platform::HidReportDescriptor parsed;
            if (!platform::hid_parse_report_descriptor(model.hid_report_descriptor(view.info.interface_number), parsed))
                continue;
            const unsigned number = view.info.interface_number;
            for (std::size_t c = 0; c < parsed.collections.size(); ++c) {
                std::string path = format("\\\\?\\hid#vid_%04x&pid_%04x", vid, pid);
                if (interface_count > 1) path += format("&mi_%02u", number);
                if (parsed.collections.size() > 1) path += format("&col%02u", static_cast<unsigned>(c + 1));
                path += format("#8&%08x&0&%04u#", slot.id * 0x1F3Bu, number) + HID_DEVICE_GUID;
                table.emplace_back(path, Target{slot.id, slot.model, model.connection(), view.info.interface_number,
                                                CLASS_HID, parsed.collections[c], parsed.uses_report_ids});
            }
        }
    }
    return table;
}

bool SimPlatform::hid_paths(std::vector<std::string>& paths) {
    const std::lock_guard lock(mutex_);
    paths.clear();
    for (auto& [path, target] : hid_table()) paths.push_back(path);
    return true;
}

platform::HidHandle SimPlatform::hid_open(const std::string& path) {
    const std::lock_guard lock(mutex_);
    last_error_.clear();
    for (auto& [entry, target] : hid_table()) {
        if (!same_name(entry, path)) continue;
        if (const Slot* slot = slot_of(target); slot != nullptr && slot->behaviour.access_denied) return denied(target);
        const auto handle = next_handle_++;
        hid_handles_.emplace(handle, target);
        return handle;
    }
    return 0;
}

void SimPlatform::hid_close(platform::HidHandle handle) {
    const std::lock_guard lock(mutex_);
    hid_handles_.erase(handle);
}

bool SimPlatform::hid_attributes(platform::HidHandle handle, platform::HidAttributes& attributes) {
    const std::lock_guard lock(mutex_);
    const Target* target = live_hid(handle);
    if (target == nullptr) return false;
    const auto device = target->model->device_descriptor();
    if (device.size() < 18) return false;
    attributes.vendor_id = le16(device, 8);
    attributes.product_id = le16(device, 10);
    attributes.version = le16(device, 12);
    return true;
}

bool SimPlatform::hid_caps(platform::HidHandle handle, platform::HidCaps& caps) {
    const std::lock_guard lock(mutex_);
    const Target* target = live_hid(handle);
    if (target == nullptr) return false;
    const auto& collection = target->collection;
    caps.usage_page = collection.usage_page;
    caps.usage = collection.usage;
    caps.input_report_length = collection.input_report_length;
    caps.output_report_length = collection.output_report_length;
    caps.feature_report_length = collection.feature_report_length;
    return true;
}

bool SimPlatform::hid_feature(const Target& target, bool get, std::span<std::uint8_t> report) {
    const std::size_t length = target.collection.feature_report_length;
    // The class driver refuses a buffer shorter than the report and a
    // report ID the collection does not declare as a feature report.
    if (length == 0 || report.size() < length) return false;
    const std::uint8_t report_id = target.uses_report_ids ? report[0] : 0;
    if (!target.collection.has_report(platform::HidReportKind::feature, report_id)) return false;
    // Without report IDs the data stage lacks the ID byte.
    const auto data = target.uses_report_ids ? report.first(length) : report.subspan(1, length - 1);
    const SetupPacket setup{static_cast<std::uint8_t>(get ? 0xA1 : 0x21), get ? HID_GET_REPORT : HID_SET_REPORT,
                           static_cast<std::uint16_t>(HID_FEATURE_REPORT | report_id), target.interface_number,
                           static_cast<std::uint16_t>(data.size())};
    std::size_t moved = 0;
    const TransferStatus status = target.model->control(time_on(target.slot), setup, data, moved);
    return status == TransferStatus::ack && moved == data.size();
}

bool SimPlatform::hid_get_feature(platform::HidHandle handle, std::span<std::uint8_t> report) {
    const std::lock_guard lock(mutex_);
    const Target* target = live_hid(handle);
    return target != nullptr && hid_feature(*target, true, report);
}

bool SimPlatform::hid_set_feature(platform::HidHandle handle, std::span<const std::uint8_t> report) {
    const std::lock_guard lock(mutex_);
    const Target* target = live_hid(handle);
    if (target == nullptr) return false;
    std::vector<std::uint8_t> copy(report.begin(), report.end());
    return hid_feature(*target, false, copy);
}

bool SimPlatform::hid_serial_number(platform::HidHandle handle, std::string& serial) {
    const std::lock_guard lock(mutex_);
    const Target* target = live_hid(handle);
    return target != nullptr && serial_of(*target->model, serial);
}

platform::LockHandle SimPlatform::lock_device(const std::string& key, std::uint64_t& holder) {
    const std::lock_guard lock(mutex_);
    holder = 0;
    for (const Slot& slot : slots_) {
        if (slot.location != key || !slot.behaviour.held_by) continue;
        holder = *slot.behaviour.held_by;
        return 0;
    }
    for (const auto& [handle, held] : locks_)
        if (held == key) return 0;
    const auto handle = next_handle_++;
    locks_.emplace(handle, key);
    return handle;
}

void SimPlatform::unlock_device(platform::LockHandle handle) {
    const std::lock_guard lock(mutex_);
    locks_.erase(handle);
}

void SimPlatform::worker_begins(const std::string& location) {
    const std::lock_guard lock(mutex_);
    for (const Slot& slot : slots_) {
        if (slot.location != location || slot.timeline == nullptr) continue;
        bound_timeline = slot.timeline;
        ++busy_[slot.timeline];
        return;
    }
}

void SimPlatform::worker_ends() {
    {
        const std::lock_guard lock(mutex_);
        if (bound_timeline != nullptr && --busy_[bound_timeline] == 0) busy_.erase(bound_timeline);
        bound_timeline = nullptr;
    }
    moved_.notify_all();
}

void SimPlatform::at_base_time(std::vector<std::uint64_t> times, std::function<void()> act) {
    const std::lock_guard lock(mutex_);
    timed_ = std::move(times);
    on_time_ = std::move(act);
}

void SimPlatform::sleep_ms(std::uint32_t milliseconds) {
    std::size_t due = 0;
    {
        std::unique_lock lock(mutex_);
        if (bound_timeline != nullptr) {
            bound_timeline->advance(milliseconds);
            moved_.notify_all();
        } else {
            clock_.advance(milliseconds);
            const std::uint64_t until = clock_.now();
            // Devices no worker runs on move with the bus.
            for (const Slot& slot : slots_)
                if (slot.timeline != nullptr && !busy_.contains(slot.timeline) && slot.timeline->now() < until)
                    slot.timeline->advance(until - slot.timeline->now());
            // A worker's device keeps its own time: the sleeper waits until
            // each has lived at least as long (or its worker has ended), so
            // that what it sees next (arrivals, ends) depends on virtual time
            // alone, not on how fast the threads ran.
            moved_.wait(lock, [&] {
                for (const auto& [timeline, workers] : busy_)
                    if (timeline->now() < until) return false;
                return true;
            });
            due = std::erase_if(timed_, [&](std::uint64_t at) { return at <= until; });
        }
    }
    // Outside the lock: what it does may take other calls.
    for (; due > 0; --due) on_time_();
    // Outside the lock: other threads' runs go on meanwhile.
    if (realtime_) std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::uint64_t SimPlatform::now_ms() {
    const std::lock_guard lock(mutex_);
    return bound_timeline != nullptr ? bound_timeline->now() : clock_.now();
}

std::vector<platform::UnopenedDevice> SimPlatform::unopened_devices() {
    const std::lock_guard lock(mutex_);
    return unopened_;
}

std::string SimPlatform::last_os_error() {
    const std::lock_guard lock(mutex_);
    return last_error_;
}

void SimPlatform::console_clear_quick_edit() {
    const std::lock_guard lock(mutex_);
    ++quick_edit_clears_;
}

}  // namespace sim
