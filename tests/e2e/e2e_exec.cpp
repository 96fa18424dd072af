// The program a test's terminal runs: starts the launcher as its child and
// reports how it went.
//
// Its one argument names a file of NUL-terminated fields: the user to run
// as ("self", or "nobody", taken only when running as root), the path of
// the report, a file for the child's standard error (empty: the terminal),
// the program to start and its arguments. The child's process id
// goes to "<report>.pid" at once; when the child has ended, the report gets
// "exit=<code>" (or "signal=<number>"), whether the terminal's modes are
// as they were before ("termios=same" or "termios=changed") and the child's
// peak resident memory ("maxrss=<KiB>"; this small program's own memory is
// what the child starts from, not that of the test that started it).
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <iterator>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>
#include <vector>

namespace {

bool writeFile(const std::string& path, const std::string& text) {
    const std::string part = path + ".part";
    std::FILE* out = std::fopen(part.c_str(), "wb");
    if (out == nullptr)
        return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), out) == text.size();
    return std::fclose(out) == 0 && ok && std::rename(part.c_str(), path.c_str()) == 0;
}

bool sameModes(const termios& a, const termios& b) {
    return a.c_iflag == b.c_iflag && a.c_oflag == b.c_oflag && a.c_cflag == b.c_cflag &&
           a.c_lflag == b.c_lflag && std::memcmp(a.c_cc, b.c_cc, sizeof a.c_cc) == 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2)
        return 120;
    std::ifstream in(argv[1], std::ios::binary);
    const std::string request((std::istreambuf_iterator<char>(in)),
                              std::istreambuf_iterator<char>());
    std::vector<std::string> fields;
    for (std::size_t start = 0; start < request.size();) {
        const std::size_t end = request.find('\0', start);
        if (end == std::string::npos)
            return 121;
        fields.push_back(request.substr(start, end - start));
        start = end + 1;
    }
    if (fields.size() < 4)
        return 122;
    const std::string& user = fields[0];
    const std::string& report = fields[1];
    const std::string& errors = fields[2];

    termios before{};
    const bool haveModes = ::tcgetattr(STDIN_FILENO, &before) == 0;

    const pid_t child = ::fork();
    if (child < 0)
        return 123;
    if (child == 0) {
        if (user == "nobody" && ::geteuid() == 0) {
            if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0) {
                std::perror("cannot become nobody");
                ::_exit(126);
            }
        }
        if (!errors.empty()) {
            const int fd = ::open(errors.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            if (fd < 0 || ::dup2(fd, STDERR_FILENO) < 0)
                ::_exit(125);
            ::close(fd);
        }
        std::vector<char*> args;
        for (std::size_t i = 3; i < fields.size(); ++i)
            args.push_back(fields[i].data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        std::perror("exec");
        ::_exit(127);
    }
    writeFile(report + ".pid", std::to_string(child));

    int status = 0;
    struct rusage usage {};
    while (::wait4(child, &status, 0, &usage) < 0 && errno == EINTR) {
    }
    termios after{};
    const bool same =
        haveModes && ::tcgetattr(STDIN_FILENO, &after) == 0 && sameModes(before, after);
    std::string text;
    int code = 0;
    if (WIFEXITED(status)) {
        code = WEXITSTATUS(status);
        text = "exit=" + std::to_string(code) + "\n";
    } else {
        code = 128 + WTERMSIG(status);
        text = "signal=" + std::to_string(WTERMSIG(status)) + "\n";
    }
    text += same ? "termios=same\n" : "termios=changed\n";
    text += "maxrss=" + std::to_string(usage.ru_maxrss) + "\n";
    writeFile(report, text);
    return code;
}
