// The tool's entry point, shared by flash-tool and flash-tool-sim: parses the
// command line, chooses the image and the device path, runs it and returns
// the process exit status. Every device call and the console's set-up go
// through `os`.
#pragma once

#include "frontend/options.h"
#include "platform/platform.h"
#include "report/console_reporter.h"

// `set`: the options the program takes (flash-tool also --trace, which its
// own main acts on). `console`: where the run's text goes (null: the
// standard streams); a test or the fault sweep captures it there.
int frontend_main(platform::Platform& os, int argc, char** argv, option_set set = option_set::standard,
                  const console_sink* console = nullptr);
