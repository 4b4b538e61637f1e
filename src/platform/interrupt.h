// Ctrl-C during a run. Outside a critical phase the first one ends the run
// at once: an ERROR line, the failure banner, exit status 1. While an image is
// transferred or flashed, or the device restarts (an interrupted flash can
// leave a device that does not boot), the first one only warns and the run
// goes on; a second one aborts as above.
#pragma once

namespace platform {

// Ctrl-C is handled as above from here (POSIX: SIGINT; Windows: the console
// control handler for Ctrl+C and Ctrl+Break) until interrupt_disarm, which
// gives Ctrl-C back its usual effect (before the final banner and key wait).
void interrupt_arm();
void interrupt_disarm();

// What must be put back before an abort ends the process (the console's
// mode on Windows); one function, the last one given counts.
void interrupt_on_abort(void (*restore)());

// What an abort writes instead of INTERRUPT_ERROR (standard error) and
// INTERRUPT_BANNER (standard output); the texts must outlive the run.
void interrupt_abort_texts(const char* error, const char* closing);

// For a run that must not leave work half done (a station with devices in
// flight): from here the first Ctrl-C, wherever it comes, only asks the run
// to stop (interrupt_stop_asked) and writes `warning`; the second aborts.
// Null gives the first Ctrl-C its usual effect again. `warning` must outlive
// the run.
void interrupt_drain_first(const char* warning);
bool interrupt_stop_asked();

// What a Ctrl-C does, here and now, while armed: the simulator's timed Ctrl-C.
void interrupt_now();

// Marks a critical phase for as long as it lives; phases may nest.
class interrupt_critical_phase {
public:
    interrupt_critical_phase();
    ~interrupt_critical_phase();
    interrupt_critical_phase(const interrupt_critical_phase&) = delete;
    interrupt_critical_phase& operator=(const interrupt_critical_phase&) = delete;
};

// What one Ctrl-C does now: true when the run goes on (the first one in a
// critical phase, after which the warning is due), false when it ends.
// Counts the Ctrl-C; async-signal-safe. For the handlers and tests.
bool interrupt_goes_on();

inline constexpr const char* INTERRUPT_WARNING =
    "\nNOTICE: An upgrade is in progress; interrupting it may leave the device unusable. Press Ctrl-C again to "
    "abort.\n";
inline constexpr const char* INTERRUPT_ERROR = "\nERROR: Interrupted by Ctrl-C.\n";
inline constexpr const char* INTERRUPT_BANNER =
    "*********************************************************\n"
    "* Operations failed! Please retry or call tech support. *\n"
    "*********************************************************\n\n";

}  // namespace platform
