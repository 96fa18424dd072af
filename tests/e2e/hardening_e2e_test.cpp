// The launcher in hostile surroundings: a full disk, folders it may not write,
// files it may not read, huge files and files that never end, folder names
// that are not UTF-8. Each case runs the real program from a copy in a fresh
// folder and checks what is left on disk and what the user is told.
#include "tests/e2e/e2e_support.h"

#include "tests/support/case_name.h"
#include "tests/support/default_file_bytes.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using namespace velmora::e2e;

namespace {

constexpr uid_t NOBODY = 65534;

using velmora::test::folderNames;

class Hardening : public testing::Test {
protected:
    void SetUp() override {
        ASSERT_EQ(::chmod(temp_.path().c_str(), 0755), 0);
        ASSERT_EQ(::mkdir(run_.c_str(), 0700), 0);
    }

    // A copy of the launcher in `folder` (made when missing).
    std::string install(const std::string& folder) {
        ::mkdir(folder.c_str(), 0755);
        copyFile(VELMORA_BINARY, folder + "/velmora", 0755);
        return folder + "/velmora";
    }

    std::vector<std::string> env() const { return launcherEnvironment(run_); }

    // Runs the launcher without terminal or display: it reads (and maybe
    // writes) its file, finds nowhere to show the menu and ends.
    Finished runLauncher(const std::string& program,
                         std::chrono::milliseconds limit = std::chrono::seconds(60)) const {
        return runDetached({program}, env(), limit);
    }

    // The same as the user nobody, with a runtime folder of nobody's own.
    Finished runAsNobody(const std::string& program) {
        if (::geteuid() != 0)
            return runLauncher(program);
        const std::string runtime = temp_ / "run-nobody";
        ::mkdir(runtime.c_str(), 0700);
        if (::chown(runtime.c_str(), NOBODY, NOBODY) != 0)
            throw std::runtime_error("cannot prepare a folder for nobody");
        return runDetached(
            {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", program},
            launcherEnvironment(runtime), std::chrono::seconds(30));
    }

    // Starts `program` in a terminal of its own (in the folder "terminal")
    // and waits for its menu; null when none was shown.
    std::unique_ptr<Terminal> openMenu(const std::string& program,
                                       std::optional<std::string> stderrFile = std::nullopt) {
        const std::string folder = temp_ / "terminal";
        ::mkdir(folder.c_str(), 0755);
        Terminal::Options options;
        options.env = env();
        if (stderrFile)
            options.stderrFile = *stderrFile;
        auto terminal =
            std::make_unique<Terminal>(folder, std::vector<std::string>{program}, options);
        if (terminal->waitForMenu())
            return terminal;
        ADD_FAILURE() << "no menu was shown: " << terminal->screenText();
        return nullptr;
    }

    TempFolder temp_;
    std::string run_ = temp_ / "run";
};

// A small file system that is full: the default file cannot be written
// whole, so nothing is left where it belongs (no empty file that every later
// start would read as an empty menu), and the user is told why. Once there is
// room, the next start writes it.
TEST_F(Hardening, AFullDiskLeavesNoFileBehindAndTheNextStartWritesIt) {
    const std::string disk = temp_ / "disk";
    ASSERT_EQ(::mkdir(disk.c_str(), 0755), 0);
    // Room for the launcher as built with its debug information (over 8 MiB)
    // before the rest is filled.
    ASSERT_EQ(::mount("velmora-test", disk.c_str(), "tmpfs", 0, "size=16m,mode=0755"), 0)
        << "a full disk is made as a small tmpfs, which needs the right to mount "
           "(CI runs as root): "
        << std::strerror(errno);
    struct Unmount {
        std::string path;
        ~Unmount() { ::umount2(path.c_str(), MNT_DETACH); }
    } unmount{disk};

    const std::string program = install(disk + "/app");
    // Fill every block that is left.
    {
        const int fd = ::open((disk + "/filler").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        const std::string block(4096, 'f');
        while (::write(fd, block.data(), block.size()) > 0) {
        }
        ::fsync(fd);
        ::close(fd);
        ASSERT_LT(::write(::open((disk + "/filler2").c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644),
                          "x", 1),
                  1)
            << "the disk is not full";
    }

    const Finished full = runLauncher(program);
    ASSERT_TRUE(full.ended);
    EXPECT_EQ(full.exitCode, 0);
    EXPECT_EQ(folderNames(disk + "/app"), std::vector<std::string>{"velmora"})
        << "neither the file nor a temporary one stays behind";
    EXPECT_NE(full.output.find("velmora: cannot write the default configuration file \"" + disk +
                               "/app/velmini\": No space left on device\n"),
              std::string::npos)
        << full.output;

    ASSERT_EQ(::unlink((disk + "/filler").c_str()), 0);
    const Finished room = runLauncher(program);
    ASSERT_TRUE(room.ended);
    EXPECT_EQ(room.exitCode, 0);
    EXPECT_EQ(room.output, "");
    EXPECT_EQ(readFile(disk + "/app/velmini"), velmora::test::DEFAULT_FILE_LF);
    EXPECT_EQ(folderNames(disk + "/app"), (std::vector<std::string>{"velmini", "velmora"}));
}

// Why the menu is empty is said once on standard error, naming the file; the
// run itself goes on as before (exit code 0, nothing replaced).
struct SilentCase {
    const char* name;
    const char* message; // after "velmora: "; the path follows in quotes
    const char* reason;
};

class HardeningSaysWhy : public Hardening, public testing::WithParamInterface<SilentCase> {};

TEST_P(HardeningSaysWhy, OneLineNamesThePathAndTheReason) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    const std::string config = app + "/velmini";
    const std::string kind = GetParam().name;
    if (kind == "ReadOnlyFolder") {
        ASSERT_EQ(::chmod(app.c_str(), 0555), 0);
    } else if (kind == "UnreadableFile") {
        writeFile(config, "[1]\ntitle=Secret\nexec=/bin/true\n", 0000);
    } else if (kind == "Folder") {
        ASSERT_EQ(::mkdir(config.c_str(), 0755), 0);
    } else {
        ASSERT_EQ(::mkfifo(config.c_str(), 0644), 0);
    }
    const Finished run = runAsNobody(program);
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, std::string("velmora: ") + GetParam().message + " \"" + config +
                              "\": " + GetParam().reason + "\n");
    ::chmod(app.c_str(), 0755);
    if (kind == "ReadOnlyFolder") {
        EXPECT_FALSE(exists(config));
    }
    if (kind == "UnreadableFile") {
        ::chmod(config.c_str(), 0644);
        EXPECT_EQ(readFile(config), "[1]\ntitle=Secret\nexec=/bin/true\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, HardeningSaysWhy,
    testing::Values(
        SilentCase{"ReadOnlyFolder", "cannot write the default configuration file",
                   "Permission denied"},
        SilentCase{"UnreadableFile", "cannot read the configuration file", "Permission denied"},
        SilentCase{"Folder", "cannot read the configuration file", "it is a folder"},
        SilentCase{"Fifo", "cannot read the configuration file", "it is not a regular file"}),
    velmora::test::CaseName());

// Files far larger than any configuration, and one that never ends, are read
// to their end or to the read limit: the launcher ends normally with the
// configuration it found. (Their memory is measured by bench/memory_budget.py.)
struct HugeCase {
    const char* name;
    bool neverEnds;
};

class HardeningHugeFile : public Hardening, public testing::WithParamInterface<HugeCase> {};

TEST_P(HardeningHugeFile, EndsNormallyWithoutTouchingTheFile) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    const std::string config = app + "/velmini";
    if (GetParam().neverEnds) {
        ASSERT_EQ(::symlink("/proc/self/pagemap", config.c_str()), 0);
    } else {
        // 300 MiB of NUL bytes, sparse so that the disk is not filled.
        const int fd = ::open(config.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, off_t{300} << 20), 0);
        ::close(fd);
    }
    const Finished run = runLauncher(program, std::chrono::seconds(90));
    ASSERT_TRUE(run.ended) << "the launcher kept reading";
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
    EXPECT_EQ(folderNames(app), (std::vector<std::string>{"velmini", "velmora"}));
}

INSTANTIATE_TEST_SUITE_P(Files, HardeningHugeFile,
                         testing::Values(HugeCase{"SparseNulBytes", false},
                                         HugeCase{"ProcPagemap", true}),
                         velmora::test::CaseName());

// --- folder names that are not UTF-8 ------------------------------------------

// A copy in a folder named in Latin-1 ("jos\xE9") beside one whose name is
// what a lossy conversion would make of it ("jos" U+FFFD): the launcher reads
// and writes only in its own folder.
TEST_F(Hardening, AFolderNameThatIsNotUtf8IsKeptByteForByte) {
    const std::string own = temp_ / "jos\xE9";
    const std::string lookalike = temp_ / "jos\xEF\xBF\xBD";
    const std::string program = install(own);
    ASSERT_EQ(::mkdir(lookalike.c_str(), 0755), 0);
    writeFile(lookalike + "/velmini", "[1]\ntitle=Wrong folder\nexec=/bin/true\n");

    const Finished first = runLauncher(program);
    ASSERT_TRUE(first.ended);
    EXPECT_EQ(first.exitCode, 0);
    EXPECT_EQ(first.output, "");
    EXPECT_EQ(readFile(own + "/velmini"), velmora::test::DEFAULT_FILE_LF);
    EXPECT_EQ(readFile(lookalike + "/velmini"), "[1]\ntitle=Wrong folder\nexec=/bin/true\n");

    // Its own file is the one it shows.
    writeFile(own + "/velmini", "[1]\ntitle=Own folder\nexec=/bin/true\n");
    const auto opened = openMenu(program);
    ASSERT_TRUE(opened);
    const Terminal& terminal = *opened;
    EXPECT_EQ(boxItems(terminal.screen()), std::vector<std::string>{"Own folder"});
    terminal.keys({"Escape"});
    EXPECT_EQ(terminal.waitExit(), 0);
}

// --- what reaches the user's terminal ---------------------------------------

// An exec value full of escape sequences (C1 CSI, ESC, OSC, BEL) that cannot
// be opened: the message on standard error shows them as "?".
TEST_F(Hardening, TheLaunchersMessagesCarryNoControlCharacters) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    writeFile(app + "/velmini", "[1]\ntitle=Steer\nexec=/nonexistent/\xC2\x9B"
                                "31mX\x1B]0;pwned\x07\xC2\x9C\n");
    const auto opened = openMenu(program, temp_ / "stderr");
    ASSERT_TRUE(opened);
    const Terminal& terminal = *opened;
    terminal.keys({"Down", "Enter"});
    EXPECT_EQ(terminal.waitExit(), 0);
    EXPECT_EQ(
        readFile(temp_ / "stderr"),
        "velmora: cannot open \"/nonexistent/?31mX?]0;pwned??\": No such file or directory\n");
}

// --- what the started program inherits --------------------------------------

// Started from a script that ignores signals, with its standard streams
// closed: the program it starts gets /dev/null on 0, 1 and 2, every signal's
// default action and no blocked signal. A shell script reports what it got.
TEST_F(Hardening, TheStartedProgramInheritsNeitherClosedStreamsNorIgnoredSignals) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    const std::string report = temp_ / "inherited";
    writeFile(app + "/report.sh",
              "#!/bin/sh\n"
              "fds=$(for fd in 0 1 2; do echo \"fd$fd=$(readlink /proc/$$/fd/$fd)\"; done)\n"
              "signals=$(grep -E '^Sig(Ign|Blk):' /proc/$$/status)\n"
              "printf '%s\\n%s\\n' \"$fds\" \"$signals\" > \"" +
                  report + ".part\"\nmv \"" + report + ".part\" \"" + report + "\"\n",
              0755);
    writeFile(app + "/velmini", "[1]\ntitle=Report\nexec=" + app + "/report.sh\n");
    const std::string folder = temp_ / "terminal";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    Terminal::Options options;
    options.env = env();
    const Terminal terminal(folder,
                            {"/bin/sh", "-c",
                             "trap '' INT QUIT USR1 PIPE TSTP TTOU TTIN; exec \"$0\" <&- >&- 2>&-",
                             program},
                            options);
    ASSERT_TRUE(terminal.waitForMenu()) << terminal.screenText();
    terminal.keys({"Down", "Enter"});
    EXPECT_EQ(terminal.waitExit(), 0);
    ASSERT_TRUE(waitUntil([&] { return exists(report); }, std::chrono::seconds(10)));
    const std::string text = readFile(report).value_or("");
    EXPECT_EQ(text.substr(0, text.find("Sig")), "fd0=/dev/null\nfd1=/dev/null\nfd2=/dev/null\n");
    // The standard signals, 1 to 31; the C library keeps two real-time
    // signals of its own that no program can reset.
    const auto mask = [&text](const std::string& name) {
        const std::size_t at = text.find(name + ":\t");
        return at == std::string::npos
                   ? ~0ull
                   : std::stoull(text.substr(at + name.size() + 2, 16), nullptr, 16) &
                         0x7FFFFFFFull;
    };
    EXPECT_EQ(mask("SigBlk"), 0u) << text;
    EXPECT_EQ(mask("SigIgn"), 0u) << text;
}

// A document whose name begins with "-" is opened by the real xdg-open, which
// would read the bare name as an option. xdg-open finds the handler of
// text/plain through a desktop entry of the test's own: the argument
// recorder. (It looks at desktop entries only when it believes a graphical
// session is there: WAYLAND_DISPLAY names one, where no compositor listens,
// so the launcher draws its menu on the terminal.)
TEST_F(Hardening, ADocumentNamedLikeAnOptionReachesXdgOpenAsAFile) {
    ASSERT_EQ(::access("/usr/bin/xdg-open", X_OK), 0)
        << "xdg-open (xdg-utils) is not installed: this test opens a document with it";
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    const std::string work = temp_ / "work";
    ASSERT_EQ(::mkdir(work.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((work + "/-docs").c_str(), 0755), 0);
    writeFile(work + "/-docs/notes.txt", "plain text\n");
    const std::string data = temp_ / "data";
    const std::string config = temp_ / "config";
    ASSERT_EQ(::mkdir(data.c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((data + "/applications").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(config.c_str(), 0755), 0);
    writeFile(data + "/applications/velmora-recorder.desktop",
              "[Desktop Entry]\nType=Application\nName=Recorder\nExec=" +
                  std::string(VELMORA_ARGV_RECORDER) + " %f\nMimeType=text/plain;\n");
    writeFile(config + "/mimeapps.list",
              "[Default Applications]\ntext/plain=velmora-recorder.desktop\n");
    writeFile(app + "/velmini", "[1]\ntitle=Notes\nexec=-docs/notes.txt\n");

    const std::string record = temp_ / "record";
    const std::string folder = temp_ / "terminal";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    Terminal::Options options;
    options.env = launcherEnvironment(
        run_, {"VELMORA_RECORD=" + record, "HOME=" + std::string(temp_.path()),
               "XDG_DATA_HOME=" + data, "XDG_CONFIG_HOME=" + config, "XDG_DATA_DIRS=" + data,
               "XDG_CONFIG_DIRS=" + config, "WAYLAND_DISPLAY=velmora-test-none"});
    options.stderrFile = temp_ / "stderr";
    const Terminal terminal(folder, {"/bin/sh", "-c", "cd \"$1\" && exec \"$0\"", program, work},
                            options);
    ASSERT_TRUE(terminal.waitForMenu()) << terminal.screenText();
    terminal.keys({"Down", "Enter"});
    EXPECT_EQ(terminal.waitExit(), 0);
    ASSERT_TRUE(waitUntil([&] { return exists(record); }, std::chrono::seconds(20)))
        << "xdg-open did not start the handler: " << readFile(temp_ / "stderr").value_or("");
    const auto text = readFile(record);
    ASSERT_TRUE(text.has_value());
    EXPECT_NE(text->find(":./-docs/notes.txt\n"), std::string::npos) << *text;
}

// --- signals while the terminal menu is open ---------------------------------

class HardeningSignal : public Hardening, public testing::WithParamInterface<SignalCase> {};

// A signal whose default action ends the process: the terminal is put back
// and the launcher ends as that signal would.
TEST_P(HardeningSignal, EndsAsTheSignalWouldWithTheTerminalPutBack) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    writeFile(app + "/velmini", "[1]\ntitle=One\nexec=/bin/true\n");
    const auto opened = openMenu(program);
    ASSERT_TRUE(opened);
    const Terminal& terminal = *opened;
    ASSERT_TRUE(waitUntil([&] { return terminal.launcherPid() > 0; }));
    ASSERT_EQ(::kill(terminal.launcherPid(), GetParam().number), 0);
    EXPECT_EQ(terminal.waitExit(), -1) << "it did not end by the signal";
    EXPECT_EQ(terminal.terminalModes(), "same");
    EXPECT_TRUE(terminalIsBack(terminal));
}

INSTANTIATE_TEST_SUITE_P(Signals, HardeningSignal,
                         testing::Values(SignalCase{"QUIT", SIGQUIT}, SignalCase{"USR1", SIGUSR1},
                                         SignalCase{"ALRM", SIGALRM}, SignalCase{"PIPE", SIGPIPE},
                                         SignalCase{"USR2", SIGUSR2}),
                         velmora::test::CaseName());

// Job control in a real interactive shell (bash with job control on): SIGTSTP,
// SIGTTIN and SIGTTOU give the terminal back and stop the launcher, bash
// shows its prompt;
// "fg" hands the terminal back and continues it, and the menu is drawn again
// and still works.
TEST_F(Hardening, StopAndContinueGiveTheTerminalBackAndTakeItAgain) {
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    const std::string record = temp_ / "record";
    writeFile(app + "/velmini", "[1]\ntitle=One\nexec=/bin/true\n[2]\ntitle=Two\nexec=" +
                                    std::string(VELMORA_ARGV_RECORDER) + "\n");
    const std::string folder = temp_ / "terminal";
    ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    Terminal::Options options;
    options.env = launcherEnvironment(run_, {"VELMORA_RECORD=" + record, "PS1=shell$ "});
    const Terminal terminal(folder, {"/bin/bash", "--norc", "--noprofile", "-i"}, options);
    ASSERT_TRUE(waitUntil([&] {
        return terminal.screenText().find("shell$") != std::string::npos;
    })) << terminal.screenText();
    terminal.type(program + "\n");
    ASSERT_TRUE(terminal.waitForMenu()) << terminal.screenText();
    ASSERT_TRUE(waitUntil([&] { return terminal.launcherPid() > 0; }));
    // The launcher is the shell's child.
    pid_t pid = 0;
    ASSERT_TRUE(waitUntil([&] {
        const std::string shell = std::to_string(terminal.launcherPid());
        const auto children = readFile("/proc/" + shell + "/task/" + shell + "/children");
        pid = children ? std::atoi(children->c_str()) : 0;
        return pid > 0;
    }));
    const auto state = [pid] {
        const auto status = readFile("/proc/" + std::to_string(pid) + "/stat");
        if (!status)
            return 'X';
        const std::size_t close = status->rfind(')');
        return close == std::string::npos ? '?' : (*status)[close + 2];
    };

    // A stop from a key, and the stops a background read or write would get.
    for (const int stop : {SIGTSTP, SIGTTIN, SIGTTOU}) {
        ASSERT_EQ(::kill(pid, stop), 0);
        EXPECT_TRUE(waitUntil([&] { return state() == 'T'; }))
            << "the launcher did not stop on " << stop << ": " << state();
        EXPECT_TRUE(terminalIsBack(terminal)) << stop;
        EXPECT_TRUE(waitUntil([&] {
            return terminal.screenText().find("Stopped") != std::string::npos;
        })) << terminal.screenText();
        terminal.type("clear; fg\n");
        EXPECT_TRUE(waitUntil([&] { return terminal.paneFormat("#{alternate_on}") == "1"; }));
        ASSERT_TRUE(terminal.waitForMenu()) << terminal.screenText();
    }
    EXPECT_EQ(boxItems(terminal.screen()), (std::vector<std::string>{"One", "Two"}));
    terminal.keys({"Down", "Down", "Enter"});
    EXPECT_TRUE(waitUntil([&] { return exists(record); }));
    EXPECT_TRUE(terminalIsBack(terminal));
    EXPECT_TRUE(waitUntil([&] { return state() == 'X'; }));
    terminal.type("exit\n");
    EXPECT_EQ(terminal.waitExit(), 0);
}

// --- the single-instance guard ------------------------------------------------

// Another user made /tmp/velmora-<uid> (here: root made it for nobody): the
// guard goes to $TMPDIR; with neither usable, the launcher says once that it
// runs unguarded.
TEST_F(Hardening, TheGuardTriesTmpdirAndSaysWhenItHasNone) {
    if (::geteuid() != 0)
        GTEST_FAIL() << "this test plants a folder of another user in /tmp: it runs as root";
    const std::string app = temp_ / "app";
    const std::string program = install(app);
    writeFile(app + "/velmini", "[1]\ntitle=A\nexec=/bin/true\n");
    const std::string planted = "/tmp/velmora-" + std::to_string(NOBODY);
    struct stat info {};
    if (::lstat(planted.c_str(), &info) == 0 && info.st_uid == NOBODY)
        GTEST_FAIL() << planted << " belongs to nobody already; remove it to run this test";
    const bool made = ::mkdir(planted.c_str(), 0755) == 0;
    ASSERT_TRUE(made || errno == EEXIST) << std::strerror(errno);
    struct Remove {
        std::string path;
        bool made;
        ~Remove() {
            if (made)
                ::rmdir(path.c_str());
        }
    } remove{planted, made};
    ASSERT_EQ(::lstat(planted.c_str(), &info), 0);
    ASSERT_EQ(info.st_uid, 0u) << "the planted folder must be root's";

    const std::string tmpdir = temp_ / "tmp-nobody";
    ASSERT_EQ(::mkdir(tmpdir.c_str(), 0700), 0);
    ASSERT_EQ(::chown(tmpdir.c_str(), NOBODY, NOBODY), 0);
    const auto asNobody = [&](const std::vector<std::string>& extra) {
        return runDetached(
            {"/usr/bin/setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", program},
            launcherEnvironment("", extra), std::chrono::seconds(30));
    };
    const Finished guarded = asNobody({"TMPDIR=" + tmpdir});
    ASSERT_TRUE(guarded.ended);
    EXPECT_EQ(guarded.exitCode, 0);
    EXPECT_EQ(guarded.output, "");
    EXPECT_TRUE(exists(tmpdir + "/velmora-" + std::to_string(NOBODY)));

    const Finished unguarded = asNobody({});
    ASSERT_TRUE(unguarded.ended);
    EXPECT_EQ(unguarded.exitCode, 0);
    EXPECT_EQ(unguarded.output,
              "velmora: no single-instance guard for this start: no lock file can be had in a "
              "folder private to this user ($XDG_RUNTIME_DIR, /tmp/velmora-65534, "
              "$TMPDIR/velmora-65534)\n");
}

} // namespace
