#include "platform/platform.h"

#include <cstdlib>

namespace platform {
namespace {
Platform* installed = nullptr;
}

Platform& current() {
    // Every executable installs its backend before the first device call; a
    // missing one is a programming error that must not go unnoticed.
    if (installed == nullptr) std::abort();
    return *installed;
}

void install(Platform* instance) { installed = instance; }

}  // namespace platform
