// tessaly: the overlay program.
#include <iostream>
#include <string>
#include <vector>

#include "overlay/program.h"

int main(int argc, char** argv) {
  if (overlay::AnswerInformationalArguments({argv + std::min(argc, 1), argv + argc}, std::cout)) {
    return 0;
  }
  return overlay::RunTessaly(argc, argv);
}
