#pragma once

// Ctrl+C, termination and a closed session end the window as cleanly as Exit
// does (the run stopped, its files and the program's assembler copy removed),
// without the question nobody would answer (stopsignals_posix.cpp,
// stopsignals_win.cpp).

// Before any thread starts, so that all threads inherit what it sets.
void PrepareStopSignals();

// Once the application exists.
void EndOnStopSignals();
