// What the end-to-end tests drive the launcher with: real files in a fresh
// folder, real processes, and a real terminal emulator (tmux) of a known
// size whose screen the tests read back. Every wait is bounded.
#pragma once

#include "tests/support/test_files.h"

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

namespace velmora::e2e {

using test::readFile;
using test::TempFolder;
using test::writeFile;

void copyFile(const std::string& from, const std::string& to, unsigned mode);
bool exists(const std::string& path);

// Polls `done` every 20 ms for at most `limit`; true when it became true.
bool waitUntil(const std::function<bool()>& done,
               std::chrono::milliseconds limit = std::chrono::seconds(15));

// The environment of a launcher run: nothing of the caller's display, a
// runtime folder of the test's own for the lock file.
std::vector<std::string> launcherEnvironment(const std::string& runtimeDir,
                                             const std::vector<std::string>& extra = {});

struct Finished {
    bool ended = false; // false: it had to be killed after the time limit
    int exitCode = -1;  // -1 when ended by a signal
    std::string output; // standard output and error together
};

// Starts `argv` (looked up in PATH) in a session of its own, standard input from /dev/null,
// standard output to `out` and standard error to `err` (-1: /dev/null);
// throws when it cannot start.
pid_t spawnInSession(std::vector<std::string> argv, std::vector<std::string> env, int out, int err);

// Runs `argv` in a session of its own (so without a controlling terminal),
// standard input from /dev/null, and waits at most `limit` for it.
Finished runDetached(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                     std::chrono::milliseconds limit = std::chrono::seconds(15));

// A tmux server of the test's own with one pane of `columns` x `rows` cells
// running a program through velmora_e2e_exec.
class Terminal {
public:
    struct Options {
        int columns = 80;
        int rows = 24;
        std::string user = "self"; // or "nobody"
        std::string stderrFile;    // where the program's standard error goes; empty: the terminal
        std::vector<std::string> env;
    };
    // Starts `argv` (program path first) in the pane; `folder` holds the
    // server's socket and the run's report.
    Terminal(const std::string& folder, const std::vector<std::string>& argv, Options options);
    ~Terminal();
    Terminal(const Terminal&) = delete;
    Terminal& operator=(const Terminal&) = delete;

    // The screen, one string per row, trailing blanks cut.
    std::vector<std::string> screen() const;
    std::string screenText() const;
    // Waits until a box is drawn whose bottom border is on screen.
    bool waitForMenu() const;
    // tmux key names ("Down", "Enter", "Escape", "C-c", "q").
    void keys(const std::vector<std::string>& names) const;
    // Bytes typed into the terminal as they are (escape sequences included).
    void type(const std::string& bytes) const;
    // A mouse report in xterm's SGR form on the cell (column, row), counted
    // from 0, as a terminal sends it: `code` 0 the left button, 2 the right,
    // plus 32 while the pointer moves with the button held; a press, or the
    // button's release.
    void mouse(int code, int column, int row, bool release = false) const;
    // A left click, pressed and released, on the cell.
    void click(int column, int row) const;

    // Attaches a tmux client to this terminal, itself running in a pane of
    // the same size of a second tmux server, and waits until it is attached
    // (false when it never is). Mouse reports typed into that pane reach the
    // program as tmux hands on a real terminal's mouse: as the mouse modes
    // the program turned on allow (a drag only with button-event tracking).
    bool attachClient();
    // Bytes typed into the attached client's terminal.
    void typeAtClient(const std::string& bytes) const;
    // A mouse report (see mouse()) from the attached client's terminal.
    void mouseAtClient(int code, int column, int row, bool release = false) const;

    // Gives the terminal a new size, as a user resizing the window does.
    void resize(int columns, int rows) const;
    // The mouse wheel turned one step down (or up) over the cell (column, row).
    void wheel(int column, int row, bool down) const;

    // The launcher's process id (0 until known).
    int launcherPid() const;
    // Waits for the launcher to end; its exit code, or -1 on timeout or signal.
    int waitExit() const;
    // The report's "termios=" value after the end.
    std::string terminalModes() const;
    // A tmux format of the pane ("#{alternate_on}", ...).
    std::string paneFormat(const std::string& format) const;

private:
    std::string tmux(const std::vector<std::string>& args) const;
    std::string tmuxAt(const std::string& socket, const std::vector<std::string>& args) const;

    std::string folder_;
    Options options_;
    std::string clientSocket_; // of the server whose pane runs the attached client
    std::string socket_;
    std::string report_;
    std::vector<std::string> env_;
};

// The emulator has left the alternate screen and stopped mouse reporting
// (it reads the launcher's last output on its own time, hence the wait).
bool terminalIsBack(const Terminal& terminal);

// Where on a screen the menu box lies, in cells; nullopt when there is none.
// A row of a table of signals sent to the launcher.
struct SignalCase {
    const char* name;
    int number;
};

struct Box {
    int left = 0;
    int top = 0;
    int width = 0;
    int height = 0;
};
std::optional<Box> findBox(const std::vector<std::string>& screen);
// The text of the item rows inside the box, borders and padding cut.
std::vector<std::string> boxItems(const std::vector<std::string>& screen);

} // namespace velmora::e2e
