// The tool's entry point, shared by flash-tool and flash-tool-sim: parses the
// command line, chooses the image and the device path, runs it and returns
// the process exit status. The platform backend must be installed first.
#pragma once

int frontend_main(int argc, char** argv);
