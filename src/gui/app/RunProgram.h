#pragma once

namespace ludex {

// The program: creates the program-wide objects and the windows in their fixed order, starts up,
// runs the event loop until the main window closes, and starts the executable again when a reset
// of the settings asked for it. Returns the process exit status.
int RunProgram(int argc, char** argv);

} // namespace ludex
