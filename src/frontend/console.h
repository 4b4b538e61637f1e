// The console: the key wait at the end of an interactive run, and whether
// standard output can be redrawn in place.
#pragma once

// "Press any key to continue..." and one key press (see key_press_mode).
void wait_for_key();

// Standard output is a terminal that takes cursor controls (on Windows: a
// console that does once asked to).
bool console_redraws();
