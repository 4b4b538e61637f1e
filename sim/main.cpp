// flash-tool-sim: the tool's front end over the simulator (sim/sim_entry.h).
#include "sim/sim_entry.h"

int main(int argc, char** argv) { return sim::sim_main(argc, argv); }
