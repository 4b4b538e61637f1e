// The simulator's virtual clock: every sleep of the tool advances it at once.
#pragma once

#include <cstdint>

namespace sim {

class Clock {
public:
    std::uint64_t now() const { return now_ms_; }
    void advance(std::uint64_t ms) { now_ms_ += ms; }

private:
    std::uint64_t now_ms_ = 0;
};

}  // namespace sim
