// The shell's "Open" on Linux, without a shell.
//
// The file is one path, never split. A name that looks like a URL
// ("scheme:...", the scheme two or more characters) is handed to xdg-open. A
// name with a "/" is a path, relative to the current folder; a bare name is
// looked up in PATH. An executable regular file is started with the
// parameters, split back into the launcher's arguments (command_line.h), in
// a session of its own with standard input from /dev/null and standard
// output and error inherited; it is not waited for. Another existing file or
// folder is handed to xdg-open when that is installed, without parameters,
// as the Windows shell opens documents. Anything else is refused: the result
// is false and one line naming the file and the reason goes to standard
// error, standing in for the shell's own error report.
#pragma once

#include "platform/platform.h"

#include <string>
#include <vector>

namespace velmora {

// What opening a file comes to.
struct ShellOpenPlan {
    bool refused = true;
    std::string reason;            // why, when refused
    std::string program;           // the file to execute
    std::vector<std::string> argv; // its argument vector, argv[0] included
};

// The first executable regular file `name` in the folders of `searchPath`
// (":"-separated; an empty entry is the current folder). Empty when none;
// a null `searchPath` searches the system's default path.
std::string findInPath(const std::string& name, const char* searchPath);

// Decides how `request` is opened, with `searchPath` standing for PATH.
ShellOpenPlan planShellOpen(const ShellExecuteRequest& request, const char* searchPath);

// Starts the plan's program, detached, and returns true; or writes the
// reason for `file` to standard error and returns false.
bool runShellOpen(const ShellOpenPlan& plan, std::u16string_view file);

} // namespace velmora
