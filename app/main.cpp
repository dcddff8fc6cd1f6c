#include <iostream>
#include <string>
#include <vector>

#include "app/startup.h"

int main(int argc, char** argv) {
    std::vector<std::string> arguments(argv, argv + argc);
    return qelt::RunBootstrapper(arguments, std::cerr);
}
