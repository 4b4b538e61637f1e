// Configuration descriptors turned into the tables a usbredir peer gets.
#include "sim/usbredir/usbredir_tables.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::usbredir_tables({data, size}, 64);
    return 0;
}
