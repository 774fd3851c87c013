#pragma once

// The whole life of the program: guard, windows in their fixed order, message loop,
// release. Returns the process exit code.
int runProgram(int argc, char** argv);

// What every start does to the application object once it exists: names, number settings,
// Qt's Russian texts. Tests call it to see the program's set-up.
void setUpApplication();
