#include <iostream>

#include "inspect/InspectProgram.h"

int main(int argc, char** argv) {
    return tirsel::kvl::agent::driver::inspect::InspectProgram::Run(argc, argv, std::cin, std::cout,
                                                                    std::cerr);
}
