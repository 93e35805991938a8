// imgflag: the command-line companion of the window program.
#include <exception>
#include <iostream>
#include <string>
#include <vector>

#include "imgflag.h"

int main(int argc, char** argv)
{
    try {
        return ks::cli::run(std::vector<std::string>(argv, argv + argc), std::cout, std::cerr);
    } catch (const std::exception& e) {
        std::cerr << "imgflag: " << e.what() << '\n';
        return ks::cli::kExitProblem;
    }
}
