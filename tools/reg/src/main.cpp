// reg: the registry stand-in's command line (query, add, delete).
#include <cstdio>

#include "reg_command.h"

int main(int argc, char** argv) {
    RegOutput output;
    const int status = RunReg(std::vector<std::string>(argv + 1, argv + argc), output);
    std::fputs(output.out.c_str(), stdout);
    std::fputs(output.err.c_str(), stderr);
    return status;
}
