// The tool's entry point, shared by flash-tool and flash-tool-sim: parses the
// command line, chooses the image and the device path, runs it and returns
// the process exit status. The platform backend must be installed first.
#pragma once

#include "frontend/options.h"

// `set`: the options the program takes (flash-tool also --trace, which its
// own main acts on).
int frontend_main(int argc, char** argv, option_set set = option_set::standard);
