// veska-pack: checks a soundpack and previews it, for pack authors.
#include <iostream>
#include <string>
#include <vector>

#include "command_line.h"

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  return veska::pack::RunVeskaPack(args, std::cout, std::cerr);
}
