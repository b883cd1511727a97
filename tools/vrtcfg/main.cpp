// vrtcfg: configuration files from the command line.
#include <iostream>
#include <string>
#include <vector>

#include "vrtcfg_cli.h"

int main(int argc, char** argv) {
  std::vector<std::string> arguments(argv + 1, argv + argc);
  const int status = vrt::vrtcfg::RunVrtcfg(arguments, std::cout, std::cerr);
  std::cout.flush();
  return status;
}
