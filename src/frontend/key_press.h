// The key wait's input side: one key press on a terminal or console, one
// character otherwise.
#pragma once

// While alive, a terminal on standard input delivers each key at once and
// shows nothing (non-canonical, no echo); its settings come back when the
// object goes, and also when a signal (Ctrl+C, a hang-up, a termination)
// ends the process meanwhile. On a Windows console, and where standard input
// is not a terminal, it changes nothing.
class key_press_mode {
public:
    key_press_mode();
    ~key_press_mode();
    key_press_mode(const key_press_mode&) = delete;
    key_press_mode& operator=(const key_press_mode&) = delete;

    // Waits for one key (on a Windows console the console's own single-key
    // read) or, where standard input is not a terminal, one character; end
    // of input or a read error ends the wait too.
    void read_key();

private:
    bool terminal_ = false;
};
