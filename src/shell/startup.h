#pragma once

// The whole life of the program: guard, windows in their fixed order, message loop,
// release. Returns the process exit code.
int runProgram(int argc, char** argv);
