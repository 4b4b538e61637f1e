// A peer's client information from a link hello reply, and the local
// information converted to the peer's version.
#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "kxp/client_info.h"
#include "kxp/kxp_session.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::span<const std::uint8_t> bytes(data, size);
    client_info peer;
    client_info_parse(peer, bytes);
    client_info_sw_version(peer);
    if (const auto mfg = client_info_mfg_id(peer); mfg && mfg->size() > CLIENT_INFO_V1_MFG_SIZE) std::abort();
    char serial[CLIENT_INFO_SERIAL_SIZE + 1];
    client_info_serial_number(peer, serial);
    if (std::memchr(serial, '\0', sizeof serial) == nullptr) std::abort();

    client_info local;
    client_info_init(local);
    client_info_set_mfg_id(local, KXP_CLIENT_NAME);
    kxp_version_bytes version{};
    if (const auto peer_version = client_info_protocol_version(peer)) version = *peer_version;
    else std::memcpy(version.data(), data, std::min(size, version.size()));
    client_info_convert(local, version);
    client_info_mfg_id(local);
    return 0;
}
