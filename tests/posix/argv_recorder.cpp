// A program for the tests to launch: records how it was started.
//
// It writes to the file named by $VELMORA_RECORD (through a temporary file
// and a rename, so a reader sees all or nothing): its argument vector, each
// argument as "<length>:<bytes>\n" after a first line with the count, then
// whether standard input is /dev/null and whether it leads its own session.
// When $VELMORA_HOLD names a file, it then writes its process id to
// "<record>.pid" and waits (at most a minute) until that file is gone, so
// that a test can see it still running.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

int main(int argc, char** argv) {
    const char* record = std::getenv("VELMORA_RECORD");
    if (record == nullptr)
        return 2;
    std::string text = std::to_string(argc) + "\n";
    for (int i = 0; i < argc; ++i) {
        const std::string argument = argv[i];
        text += std::to_string(argument.size()) + ":" + argument + "\n";
    }
    struct stat in {};
    struct stat null {};
    const bool stdinIsNull = ::fstat(0, &in) == 0 && ::stat("/dev/null", &null) == 0 &&
                             in.st_rdev == null.st_rdev && S_ISCHR(in.st_mode);
    text += std::string("stdin-null=") + (stdinIsNull ? "1" : "0") + "\n";
    text += std::string("session-leader=") + (::getsid(0) == ::getpid() ? "1" : "0") + "\n";

    const std::string temporary = std::string(record) + ".part";
    std::FILE* out = std::fopen(temporary.c_str(), "wb");
    if (out == nullptr)
        return 3;
    const bool written = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    if (std::fclose(out) != 0 || !written || std::rename(temporary.c_str(), record) != 0)
        return 4;

    if (const char* hold = std::getenv("VELMORA_HOLD")) {
        // Written aside and renamed, so that the file never shows up empty.
        const std::string pidFile = std::string(record) + ".pid";
        const std::string pidPart = pidFile + ".part";
        if (std::FILE* pid = std::fopen(pidPart.c_str(), "wb")) {
            std::fprintf(pid, "%d", static_cast<int>(::getpid()));
            if (std::fclose(pid) == 0)
                std::rename(pidPart.c_str(), pidFile.c_str());
        }
        for (int i = 0; i < 600 && ::access(hold, F_OK) == 0; ++i)
            ::usleep(100 * 1000);
    }
    return 0;
}
