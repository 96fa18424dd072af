// The other application of the X displays is xev (x11-utils): the keys it
// was given, read from what it printed.
#pragma once

#include <regex>
#include <string>
#include <vector>

namespace velmora::matrix {

// xev's arguments for a window named "velmora-other" of `width` x `height`
// at (`left`, `top`) that prints its key events only; run it through
// "stdbuf -oL" so that each event is readable as it comes.
inline std::vector<std::string> xevArguments(int left, int top, int width, int height) {
    return {"stdbuf",
            "-oL",
            "xev",
            "-name",
            "velmora-other",
            "-event",
            "keyboard",
            "-geometry",
            std::to_string(width) + "x" + std::to_string(height) + "+" + std::to_string(left) +
                "+" + std::to_string(top)};
}

// The keysym names of xev's KeyPress events in `log`.
inline std::vector<std::string> xevKeys(const std::string& log) {
    static const std::regex press(R"(KeyPress event[^]*?\(keysym 0x[0-9a-f]+, ([^)]+)\))");
    std::vector<std::string> keys;
    for (std::sregex_iterator it(log.begin(), log.end(), press), end; it != end; ++it)
        keys.push_back((*it)[1]);
    return keys;
}

} // namespace velmora::matrix
