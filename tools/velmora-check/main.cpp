// velmora-check: shows how the launcher reads a configuration file and warns
// about the traps of the format. Writes nothing and launches nothing.
#include "check_report.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    const std::unique_ptr<velmora::Platform> host = velmora::createHostPlatform();
    return velmora::check::runChecker(args, *host, std::cout, std::cerr);
}
