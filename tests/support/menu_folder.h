// The folder a drawn-menu test installs the launcher into: a configuration
// of items that each run a recorder, and what the picked recorder wrote.
// Shared by the X11, Wayland and desktop suites.
#pragma once

#include "tests/support/placement_cases.h"
#include "tests/support/test_files.h"

#include <chrono>
#include <filesystem>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace velmora::test {

// A program that records its name and arguments, one a line, in the file
// "launched" of `folder` (renamed into place, so a reader sees it whole).
inline std::filesystem::path writeRecorder(const std::filesystem::path& folder,
                                           const std::string& name) {
    const std::filesystem::path script = folder / name;
    const std::string launched = (folder / "launched").string();
    writeFile(script,
              "#!/bin/sh\nprintf '%s\\n' " + name + " \"$@\" > '" + launched + ".tmp' && mv '" +
                  launched + ".tmp' '" + launched + "'\n",
              0755);
    return script;
}

// The configuration of a menu of `titles` at `position`; item i runs the
// recorder "item<i>", written into `folder` too.
inline std::string menuConfiguration(const std::filesystem::path& folder,
                                     const std::vector<std::string>& titles,
                                     const Position& position) {
    std::string config = "# menu under test\n";
    for (std::size_t i = 0; i < titles.size(); ++i) {
        const std::string number = std::to_string(i + 1);
        config += "[" + number + "]\ntitle=" + titles[i] +
                  "\nexec=" + writeRecorder(folder, "item" + number).string() + "\n";
    }
    return config + "[position]\nx=" + std::to_string(position.x) +
           "\ny=" + std::to_string(position.y) + "\nxAlign=" + std::to_string(position.xAlign) +
           "\nyAlign=" + std::to_string(position.yAlign) + "\n";
}

// The lines the picked recorder wrote, or none when nothing was launched
// within `limit`. The launcher does not wait for what it starts, so a pick
// is given time to write; when nothing should run, the same pause shows
// that nothing did.
inline std::vector<std::string> launchedLines(const std::filesystem::path& folder,
                                              std::chrono::milliseconds limit) {
    const std::filesystem::path file = folder / "launched";
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (!std::filesystem::exists(file) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    std::vector<std::string> lines;
    std::istringstream in(readText(file));
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// The name of the picked recorder, or "" when nothing was launched.
inline std::string launchedName(const std::filesystem::path& folder, bool expectSomething) {
    using namespace std::chrono_literals;
    const auto lines = launchedLines(folder, expectSomething ? 30s : 1s);
    return lines.empty() ? "" : lines.front();
}

// Waits for a launcher to end; its exit status is always 0.
template <class Process> void expectEndsWithZero(Process& launcher) {
    const auto status = launcher.wait(std::chrono::seconds(30));
    ASSERT_TRUE(status.has_value()) << "the launcher did not end";
    EXPECT_EQ(*status, 0);
}

} // namespace velmora::test
