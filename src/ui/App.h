#pragma once

// Start-up of the window program: settings, the hidden settings dialog, the
// task window; then the event loop until the window closes.
int runWindow(int& argc, char** argv);
