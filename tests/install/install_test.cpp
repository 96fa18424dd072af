// The launcher as an installed program: installed with cmake --install into
// a fresh prefix (as a user does into ~/.local), then started from there. Its
// configuration lies beside the installed executable and is written there on
// the first start; the checker beside it reads that file; the manual pages
// render without a warning.
#include "tests/e2e/e2e_support.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <unistd.h>
#include <vector>

namespace velmora {
namespace {

namespace fs = std::filesystem;

using e2e::Finished;
using e2e::runDetached;

class InstalledProgram : public ::testing::Test {
protected:
    void SetUp() override {
        const Finished installed = runDetached(
            {VELMORA_CMAKE, "--install", VELMORA_BUILD_DIR, "--prefix", prefix().string()},
            environment(), std::chrono::seconds(60));
        ASSERT_TRUE(installed.ended && installed.exitCode == 0) << installed.output;
    }

    fs::path prefix() const { return folder_.path() / "prefix with blanks"; }
    fs::path bin() const { return prefix() / "bin"; }

    // No display and no terminal: the launcher shows nothing and ends.
    std::vector<std::string> environment() {
        const fs::path runtime = folder_.path() / "runtime";
        fs::create_directories(runtime);
        fs::permissions(runtime, fs::perms::owner_all);
        const char* path = std::getenv("PATH");
        return {"PATH=" + std::string(path != nullptr ? path : "/usr/bin:/bin"), "LANG=C.UTF-8",
                "XDG_RUNTIME_DIR=" + runtime.string()};
    }

    test::TempFolder folder_;
};

TEST_F(InstalledProgram, PutsTheProgramsAndManualPagesInPlace) {
    for (const char* program : {"velmora", "velmora-check"}) {
        const fs::path file = bin() / program;
        ASSERT_TRUE(fs::is_regular_file(file)) << file;
        EXPECT_NE(fs::status(file).permissions() & fs::perms::owner_exec, fs::perms::none) << file;
    }
    for (const char* page : {"velmora.1", "velmora-check.1"})
        EXPECT_TRUE(fs::is_regular_file(prefix() / "share" / "man" / "man1" / page)) << page;
}

TEST_F(InstalledProgram, FirstStartWritesTheConfigurationBesideTheInstalledLauncher) {
    const Finished run = runDetached({(bin() / "velmora").string(), "an argument"}, environment());
    ASSERT_TRUE(run.ended);
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(run.output, "");
    const auto config = test::readFile(bin() / "velmini");
    ASSERT_TRUE(config.has_value()) << "no configuration beside the installed launcher";
    EXPECT_NE(config->find("[1]"), std::string::npos);

    // The checker beside it reads the same file and finds nothing to report.
    const Finished check = runDetached({(bin() / "velmora-check").string()}, environment());
    ASSERT_TRUE(check.ended);
    EXPECT_EQ(check.exitCode, 0) << check.output;
    EXPECT_NE(check.output.find("40001"), std::string::npos) << check.output;
}

TEST_F(InstalledProgram, ManualPagesRenderWithoutWarnings) {
    for (const char* page : {"velmora.1", "velmora-check.1"}) {
        const fs::path file = prefix() / "share" / "man" / "man1" / page;
        const Finished lint =
            runDetached({"groff", "-man", "-Tutf8", "-ww", "-z", file.string()}, environment());
        ASSERT_TRUE(lint.ended) << "groff did not run";
        EXPECT_EQ(lint.exitCode, 0) << page << ": " << lint.output;
        EXPECT_EQ(lint.output, "") << page;
        auto environmentWithWidth = environment();
        environmentWithWidth.push_back("MANWIDTH=80");
        const Finished shown = runDetached({"man", "-l", file.string()}, environmentWithWidth);
        ASSERT_TRUE(shown.ended);
        EXPECT_EQ(shown.exitCode, 0) << shown.output;
        EXPECT_NE(shown.output.find("SYNOPSIS"), std::string::npos) << shown.output;
    }
}

} // namespace
} // namespace velmora
