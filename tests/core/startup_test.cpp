// The run from entry point to exit code, observed at the platform seam.
#include "app/startup.h"
#include "platform/fake/platform_fake.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace velmora;

namespace {
const std::u16string configPath = u"/fake/bin/velmini";
}

TEST(Startup, AnotherInstanceEndsTheRunBeforeAnyFileIsTouched) {
    PlatformFake system;
    system.markerResult = InstanceMarker::AlreadyExists;
    EXPECT_EQ(runLauncher(system, nullptr, u""), 1);
    ASSERT_EQ(system.calls.size(), 1u);
    EXPECT_EQ(system.calls[0].name, "CreateMutexW");
    EXPECT_EQ(system.calls[0].args[0], u"{6286FEE8-242F-4db1-B21A-D8B004526EED}");
    EXPECT_TRUE(system.files.empty());
}

TEST(Startup, FirstRunWritesTheDefaultFileBeforeTheMenu) {
    PlatformFake system;
    EXPECT_EQ(runLauncher(system, nullptr, u""), 0);
    EXPECT_EQ(system.callNames().front(), "CreateMutexW");
    EXPECT_LT(system.firstCall("CreateMutexW"), system.firstCall("fopen"));
    ASSERT_EQ(system.files.count(configPath), 1u);
    EXPECT_EQ(system.files[configPath].bytes.size(), 261u);
    ASSERT_EQ(system.shownItems.size(), 3u);
    EXPECT_EQ(system.shownItems[2].text, u"NetFront");
    // read (missing), exclusive create, read again
    std::vector<std::u16string> opens;
    for (const FakeCall& call : system.calls) {
        if (call.name == "fopen")
            opens.push_back(call.args[1]);
    }
    EXPECT_EQ(opens, (std::vector<std::u16string>{u"r", u"wx", u"r"}));
}

class StartupGoesOn : public ::testing::TestWithParam<InstanceMarker> {};

TEST_P(StartupGoesOn, WhenTheMarkerIsNewOrCouldNotBeMade) {
    PlatformFake system;
    system.markerResult = GetParam();
    system.files[configPath].bytes = "[1]\ntitle=A\nexec=/bin/a\n";
    system.pickCommand(40001);
    EXPECT_EQ(runLauncher(system, nullptr, u"x y"), 0);
    ASSERT_EQ(system.shellRequests.size(), 1u);
    EXPECT_EQ(system.shellRequests[0].parameters, u"x y");
    EXPECT_EQ(system.files[configPath].bytes, "[1]\ntitle=A\nexec=/bin/a\n"); // never written back
}

INSTANTIATE_TEST_SUITE_P(Markers, StartupGoesOn,
                         ::testing::Values(InstanceMarker::Created, InstanceMarker::Failed));

TEST(Startup, ExitCodeIsZeroWhateverTheMenuDid) {
    for (const bool accept : {true, false}) {
        PlatformFake system;
        system.shellAccepts = accept;
        system.pickCommand(40001);
        EXPECT_EQ(runLauncher(system, nullptr, u""), 0);
    }
    PlatformFake empty;
    empty.files[configPath].bytes = "";
    EXPECT_EQ(runLauncher(empty, nullptr, u""), 0);
    EXPECT_EQ(empty.files[configPath].bytes, ""); // an empty file is not replaced
    EXPECT_TRUE(empty.shownItems.empty());
    EXPECT_EQ(empty.countCalls("TrackPopupMenuEx"), 1u);
}

TEST(Startup, UnwritableFolderGivesAnEmptyMenu) {
    PlatformFake system;
    system.failCreate = true;
    EXPECT_EQ(runLauncher(system, nullptr, u""), 0);
    EXPECT_TRUE(system.files.empty());
    EXPECT_EQ(system.countCalls("TrackPopupMenuEx"), 1u);
    EXPECT_TRUE(system.shownItems.empty());
}
