#include "cli/Headless.h"
#include "ui/App.h"

int main(int argc, char** argv) {
  if (wantsHeadless(argc, argv)) return runHeadless(argc, argv);
  return runWindow(argc, argv);
}
