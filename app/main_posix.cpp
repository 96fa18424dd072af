// The Linux entry point: the arguments become the command-line text that the
// launcher hands on to the program it starts (see command_line.h).
#include "app/startup.h"
#include "platform/platform.h"
#include "platform/posix/command_line.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Standard input, output or error that the launcher was started without
// (velmora <&- >&- 2>&-) is opened on /dev/null: otherwise the next file it
// opens would take that number, its messages would land in that file, and
// the program it starts would inherit the gap.
void openMissingStandardStreams() {
    for (int fd = 0; fd <= 2; ++fd) {
        if (::fcntl(fd, F_GETFD) != -1 || errno != EBADF)
            continue;
        const int opened = ::open("/dev/null", fd == 0 ? O_RDONLY : O_WRONLY);
        if (opened >= 0 && opened != fd) {
            ::dup2(opened, fd);
            ::close(opened);
        }
    }
}

} // namespace

int main(int argc, char** argv) {
    openMissingStandardStreams();
    std::vector<std::string> arguments;
    for (int i = 1; i < argc; ++i)
        arguments.emplace_back(argv[i]);
    const std::u16string commandLine = velmora::joinCommandLine(arguments);
    const auto platform = velmora::createHostPlatform();
    return velmora::runLauncher(*platform, nullptr, commandLine);
}
