#include "check/run_check.h"

int main(int argc, char** argv) {
  tabulon::check::RunCheckProcess(argc, argv);
}
