// The key wait at the end of an interactive run.
#pragma once

// "Press any key to continue..." and one key press (see key_press_mode).
void wait_for_key();
