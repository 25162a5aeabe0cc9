// Clearing the console when a module loads.
#pragma once

namespace gridfold::common {

// On Windows runs the shell command "cls" through os.system (its result is ignored).
// Elsewhere clears the screen only when sys.stdout is a terminal, by writing the
// terminal's clear sequence to sys.stdout; it never prints an error and never writes
// anything into a redirected or captured stream.
void clear_console();

}  // namespace gridfold::common
