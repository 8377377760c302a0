// qmrpack's command line, shared by the per-system entry points (entry_posix.cpp, entry_windows.cpp).
#pragma once

// Runs one qmrpack command. The arguments are UTF-8 text; returns the exit status.
int QmrpackMain(int argc, char** argv);
