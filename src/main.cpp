#include <QtGlobal>

#include "cli/Headless.h"
#include "ui/App.h"

int main(int argc, char** argv) {
  // Without TZ the C library stats /etc/localtime on every local-time
  // conversion: a tenth of a flood's time went there.
  if (!qEnvironmentVariableIsSet("TZ")) qputenv("TZ", ":/etc/localtime");
  if (wantsHeadless(argc, argv)) return runHeadless(argc, argv);
  return runWindow(argc, argv);
}
