// velmora-check: shows how the launcher reads a configuration file and warns
// about the traps of the format. Writes nothing and launches nothing.
#include "check_report.h"
#include "text/text_codec.h"

#include <iostream>
#include <memory>
#include <string>
#include <vector>

namespace {

int run(const std::vector<std::string>& args) {
    const std::unique_ptr<velmora::Platform> host = velmora::createHostPlatform();
    return velmora::check::runChecker(args, *host, std::cout, std::cerr);
}

} // namespace

#ifdef _WIN32
// Windows hands the arguments over as UTF-16; they go on as UTF-8.
int wmain(int argc, wchar_t** argv) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t), "UTF-16 wide characters");
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg(argv[i]);
        args.push_back(velmora::utf16ToUtf8(std::u16string(arg.begin(), arg.end())));
    }
    return run(args);
}
#else
int main(int argc, char** argv) {
    return run(std::vector<std::string>(argv + 1, argv + argc));
}
#endif
