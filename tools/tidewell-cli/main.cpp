#include <iostream>

#include "Cli.h"

int main(int argc, char** argv) {
    return tidewell::cli::Run(std::vector<std::string>(argv + 1, argv + argc), std::cout,
                              std::cerr);
}
