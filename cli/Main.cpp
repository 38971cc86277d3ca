#include <iostream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "platform/HugePages.h"

int main(int argc, char** argv)
{
    lumivex::UseHugePages(argv);
    std::vector<std::string> args(argv + 1, argv + argc);
    return lumivex::RunCli(args, std::cout, std::cerr);
}
