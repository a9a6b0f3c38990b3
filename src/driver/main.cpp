#include "driver/run.h"

int main(int argc, char** argv) {
  tabulon::RunProcess(argc, argv);
}
