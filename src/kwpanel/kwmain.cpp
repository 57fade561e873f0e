// Entry point of every installer executable; the run mode comes from the
// run-mode unit the executable is linked with.
#include "kwpanel/kwpanelapp.h"

int main(int argc, char** argv) {
  return KwRunApplication(argc, argv);
}
