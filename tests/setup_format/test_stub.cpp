// A stand-in for the setup program in format tests: it carries the anchor
// (and nothing else of note), so installers made with it are small.
#include "anchor.h"

int main() {
  return qgsetup::setup_anchor() ? 0 : 1;
}
