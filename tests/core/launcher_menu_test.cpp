// The launcher menu and the launch, observed at the platform seam.
#include "menu/launcher_menu.h"
#include "platform/fake/platform_fake.h"
#include "text/text_codec.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>
#include <vector>

using namespace velmora;

namespace {

ConfigFile& withItems(ConfigFile& doc, const std::vector<std::u16string>& sections) {
    for (const std::u16string& name : sections) {
        doc.addEntry(name, u"title", u"T" + name);
        doc.addEntry(name, u"exec", u"/bin/p" + name);
    }
    return doc;
}

std::vector<unsigned int> shownCommands(const PlatformFake& system) {
    std::vector<unsigned int> ids;
    for (const FakeMenuItem& item : system.shownItems)
        ids.push_back(item.commandId);
    return ids;
}

const FakeCall& trackCall(const PlatformFake& system) {
    return system.calls.at(system.firstCall("TrackPopupMenuEx"));
}

} // namespace

// --- the items ---------------------------------------------------------------

struct ItemsCase {
    const char* name;
    std::vector<std::u16string> sections;
    std::vector<unsigned int> expected;
};

class MenuItems : public ::testing::TestWithParam<ItemsCase> {};

TEST_P(MenuItems, FollowTheUnbrokenRunOfNumberedSections) {
    PlatformFake system;
    ConfigFile doc;
    withItems(doc, GetParam().sections);
    runLauncherMenu(system, doc, u"");
    EXPECT_EQ(shownCommands(system), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rules, MenuItems,
    ::testing::Values(ItemsCase{"OneTwoThree", {u"1", u"2", u"3"}, {40001, 40002, 40003}},
                      ItemsCase{"GapEndsTheList", {u"1", u"2", u"4"}, {40001, 40002}},
                      ItemsCase{"LeadingZeroIsNotAnEntry", {u"01", u"02"}, {}},
                      ItemsCase{"StartAtZero", {u"0", u"1x"}, {}},
                      ItemsCase{"StartAtTwo", {u"2", u"3"}, {}},
                      ItemsCase{"OrderOfFileDoesNotMatter", {u"2", u"1"}, {40001, 40002}},
                      ItemsCase{"SignedNameIsNotAnEntry", {u"+1", u" 1", u"1 "}, {}},
                      ItemsCase{
                          "Ten",
                          {u"1", u"2", u"3", u"4", u"5", u"6", u"7", u"8", u"9", u"10"},
                          {40001, 40002, 40003, 40004, 40005, 40006, 40007, 40008, 40009, 40010}}),
    [](const auto& p) { return std::string(p.param.name); });

TEST(MenuItemsText, TitleIsShownAsStoredAndMissingTitleEndsTheList) {
    PlatformFake system;
    ConfigFile doc;
    doc.addEntry(u"1", u"title", u" &Mail\tCtrl+M ");
    doc.addEntry(u"2", u"title", u"");
    doc.addEntry(u"3", u"exec", u"/bin/x"); // no title
    doc.addEntry(u"4", u"title", u"never");
    runLauncherMenu(system, doc, u"");
    ASSERT_EQ(system.shownItems.size(), 2u);
    EXPECT_EQ(system.shownItems[0].text, u" &Mail\tCtrl+M ");
    EXPECT_EQ(system.shownItems[0].flags, MF_STRING);
    EXPECT_EQ(system.shownItems[1].text, u"");
}

TEST(MenuRun, EmptyMenuIsStillTracked) {
    PlatformFake system;
    ConfigFile doc;
    EXPECT_EQ(runLauncherMenu(system, doc, u""), 0);
    EXPECT_EQ(system.callNames(),
              (std::vector<std::string>{"CreatePopupMenu", "TrackPopupMenuEx"}));
}

TEST(MenuRun, FailedCreateReadsNothing) {
    PlatformFake system;
    system.failCreateMenu = true;
    ConfigFile doc;
    withItems(doc, {u"1"});
    EXPECT_EQ(runLauncherMenu(system, doc, u""), 0);
    EXPECT_EQ(system.callNames(), std::vector<std::string>{"CreatePopupMenu"});
    EXPECT_THROW(doc.findSection(u"position"), ConfigError); // no defaults stored
}

TEST(MenuRun, FailedAppendStopsBeforeTracking) {
    PlatformFake system;
    system.failAppendAt = 1;
    system.pickCommand(40001);
    ConfigFile doc;
    withItems(doc, {u"1", u"2", u"3"});
    EXPECT_EQ(runLauncherMenu(system, doc, u""), 0);
    EXPECT_EQ(system.countCalls("AppendMenuW"), 2u);
    EXPECT_EQ(system.countCalls("TrackPopupMenuEx"), 0u);
    EXPECT_TRUE(system.shellRequests.empty());
}

// --- the placement ---------------------------------------------------------

struct PlacementCase {
    int xAlign;
    int yAlign;
    unsigned int flags;
    int x;
    int y;
    std::vector<std::string> metrics; // GetSystemMetrics indices asked for
};

class Placement : public ::testing::TestWithParam<PlacementCase> {};

// Gives the document a "[position]" with the four values.
void addPosition(ConfigFile& doc, std::u16string x, std::u16string y, std::u16string xAlign,
                 std::u16string yAlign) {
    doc.addEntry(u"position", u"x", std::move(x));
    doc.addEntry(u"position", u"y", std::move(y));
    doc.addEntry(u"position", u"xAlign", std::move(xAlign));
    doc.addEntry(u"position", u"yAlign", std::move(yAlign));
}

TEST_P(Placement, FlagsPointAndScreenQueries) {
    PlatformFake system; // 240 x 320
    ConfigFile doc;
    addPosition(doc, u"3", u"-4", decimalText(GetParam().xAlign), decimalText(GetParam().yAlign));
    runLauncherMenu(system, doc, u"");
    const FakeCall& track = trackCall(system);
    EXPECT_EQ(track.args[0], decimalText(GetParam().flags));
    EXPECT_EQ(track.args[1], decimalText(GetParam().x));
    EXPECT_EQ(track.args[2], decimalText(GetParam().y));
    std::vector<std::string> asked;
    for (const FakeCall& call : system.calls) {
        if (call.name == "GetSystemMetrics")
            asked.push_back(call.args[0] == u"0" ? "SM_CXSCREEN" : "SM_CYSCREEN");
    }
    EXPECT_EQ(asked, GetParam().metrics);
}

INSTANTIATE_TEST_SUITE_P(
    NineFlags, Placement,
    ::testing::Values(PlacementCase{0, 0, 0x0100, 3, -4, {}},
                      PlacementCase{0, 1, 0x0110, 3, 156, {"SM_CYSCREEN"}},
                      PlacementCase{0, 2, 0x0120, 3, 316, {"SM_CYSCREEN"}},
                      PlacementCase{1, 0, 0x0104, 123, -4, {"SM_CXSCREEN"}},
                      PlacementCase{1, 1, 0x0114, 123, 156, {"SM_CXSCREEN", "SM_CYSCREEN"}},
                      PlacementCase{1, 2, 0x0124, 123, 316, {"SM_CXSCREEN", "SM_CYSCREEN"}},
                      PlacementCase{2, 0, 0x0108, 243, -4, {"SM_CXSCREEN"}},
                      PlacementCase{2, 1, 0x0118, 243, 156, {"SM_CXSCREEN", "SM_CYSCREEN"}},
                      PlacementCase{2, 2, 0x0128, 243, 316, {"SM_CXSCREEN", "SM_CYSCREEN"}},
                      PlacementCase{3, -1, 0x0100, 3, -4, {}},
                      PlacementCase{-1, 3, 0x0100, 3, -4, {}}));

TEST(Placement, ExampleOfABottomCentredMenu) {
    PlatformFake system;
    ConfigFile doc;
    addPosition(doc, u"0", u"-26", u"1", u"2");
    runLauncherMenu(system, doc, u"");
    EXPECT_EQ(trackCall(system).args, (std::vector<std::u16string>{u"292", u"120", u"294"}));
}

TEST(Placement, OddWidthTruncatesAndMissingPositionStoresDefaults) {
    PlatformFake system;
    system.screenWidth = 241;
    ConfigFile doc;
    doc.addEntry(u"position", u"xAlign", u"1");
    runLauncherMenu(system, doc, u"");
    EXPECT_EQ(trackCall(system).args[1], u"120");
    const ConfigSection& position = doc.findSection(u"position");
    ASSERT_EQ(position.entries.size(), 4u);
    EXPECT_EQ(position.entries[1].key, u"x");
    EXPECT_EQ(position.entries[2].key, u"y");
    EXPECT_EQ(position.entries[3].key, u"yAlign");
}

TEST(Placement, NoPositionSectionPlacesAtTheOriginWithoutAskingTheScreen) {
    PlatformFake system;
    ConfigFile doc;
    runLauncherMenu(system, doc, u"");
    EXPECT_EQ(trackCall(system).args, (std::vector<std::u16string>{u"256", u"0", u"0"}));
    EXPECT_EQ(system.countCalls("GetSystemMetrics"), 0u);
    EXPECT_EQ(doc.sections().back().name, u"position");
}

TEST(Placement, SumsSaturateInsteadOfOverflowing) {
    PlatformFake system;
    system.screenWidth = INT_MAX;
    system.screenHeight = INT_MAX;
    ConfigFile doc;
    addPosition(doc, u"2147483647", u"-2147483648", u"2", u"1");
    runLauncherMenu(system, doc, u"");
    EXPECT_EQ(trackCall(system).args[1], u"2147483647");
    EXPECT_EQ(trackCall(system).args[2], u"-1073741825");
    EXPECT_EQ(saturatingAdd(INT_MIN, -1), INT_MIN);
    EXPECT_EQ(saturatingAdd(INT_MAX, 1), INT_MAX);
    EXPECT_EQ(saturatingAdd(-5, 3), -2);
}

// --- the pick and the launch -------------------------------------------------

TEST(Launch, PickedItemOpensItsExecWithTheCommandLine) {
    PlatformFake system;
    system.pickCommand(40002);
    ConfigFile doc;
    withItems(doc, {u"1", u"2", u"3"});
    const std::u16string commandLine = u"\"a b\" c \"\" 日本";
    EXPECT_EQ(runLauncherMenu(system, doc, commandLine), 1);
    ASSERT_EQ(system.shellRequests.size(), 1u);
    EXPECT_EQ(system.shellRequests[0].verb, u"Open");
    EXPECT_EQ(system.shellRequests[0].file, u"/bin/p2");
    EXPECT_EQ(system.shellRequests[0].parameters, commandLine);
    EXPECT_EQ(system.callNames().back(), "ShellExecuteEx");
}

TEST(Launch, ExecWithBlanksIsPassedWholeAndEmptyCommandLineStaysEmpty) {
    PlatformFake system;
    ConfigFile doc;
    doc.addEntry(u"1", u"exec", u"\\Program Files\\Opera\\Opera.exe -x");
    EXPECT_EQ(launchMenuChoice(system, doc, 1, u""), 1);
    EXPECT_EQ(system.shellRequests.at(0).file, u"\\Program Files\\Opera\\Opera.exe -x");
    EXPECT_EQ(system.shellRequests.at(0).parameters, u"");
}

struct RefusedCase {
    const char* name;
    const char16_t* exec; // null: no "exec" key
    bool shellAccepts;
    std::size_t shellCalls;
};

class LaunchRefused : public ::testing::TestWithParam<RefusedCase> {};

TEST_P(LaunchRefused, YieldsZero) {
    PlatformFake system;
    system.shellAccepts = GetParam().shellAccepts;
    system.pickCommand(40001);
    ConfigFile doc;
    doc.addEntry(u"1", u"title", u"t");
    if (GetParam().exec != nullptr)
        doc.addEntry(u"1", u"exec", GetParam().exec);
    EXPECT_EQ(runLauncherMenu(system, doc, u"args"), 0);
    EXPECT_EQ(system.countCalls("ShellExecuteEx"), GetParam().shellCalls);
}

INSTANTIATE_TEST_SUITE_P(Cases, LaunchRefused,
                         ::testing::Values(RefusedCase{"NoExec", nullptr, true, 0},
                                           RefusedCase{"EmptyExec", u"", true, 0},
                                           RefusedCase{"ShellRefuses", u"/x", false, 1}),
                         [](const auto& p) { return std::string(p.param.name); });

TEST(Launch, DismissedOrForeignCommandLaunchesNothing) {
    for (const unsigned int command : {0u, 40000u, 39999u, 40000u + 0x80000000u}) {
        PlatformFake system;
        system.pickCommand(command);
        ConfigFile doc;
        withItems(doc, {u"1"});
        EXPECT_EQ(runLauncherMenu(system, doc, u""), 0) << command;
        EXPECT_TRUE(system.shellRequests.empty()) << command;
    }
}
