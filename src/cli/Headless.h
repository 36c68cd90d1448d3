#pragma once

// `zembrin register|catch TASKFILE ...`: runs a task file without a window.
// Returns the process exit status.
int runHeadless(int argc, char** argv);

// True when the arguments ask for the headless runner (or help/version).
bool wantsHeadless(int argc, char** argv);
