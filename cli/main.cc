#include "cli/launcher.h"

int main(int argc, char** argv) {
  return RunLauncher(argc, argv);
}
