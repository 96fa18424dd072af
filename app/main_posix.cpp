// The Linux entry point: the arguments become the command-line text that the
// launcher hands on to the program it starts (see command_line.h).
#include "app/startup.h"
#include "platform/platform.h"
#include "platform/posix/command_line.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    const std::u16string commandLine = velmora::joinCommandLine(arguments);
    const auto platform = velmora::createHostPlatform();
    return velmora::runLauncher(*platform, nullptr, commandLine);
}
