#include "frontend/console.h"

#include <cstdio>

#include "frontend/key_press.h"

void wait_for_key() {
    // The terminal takes single keys before the prompt shows, so a key
    // pressed as soon as it is seen counts.
    key_press_mode keys;
    std::puts("Press any key to continue...");
    std::fflush(stdout);
    // The key itself is not used; end of input ends the wait too.
    keys.read_key();
}
