// One table of what a user does with the menu, written once and played on
// every display: display x scenario. Each display starts once for all its
// scenarios; each scenario starts the real launcher anew, so each after the
// first also shows that the instance lock was let go. A scenario a display
// cannot play is "not applicable" by a fixed fact of that display (its
// driver's notApplicable), recorded with its reason; a display that does not
// start fails every other cell. The Linux program (matrix_test.cpp) and the
// Wine one (tests/win32/e2e) each name their displays with MATRIX_DISPLAY.
#pragma once

#include <gtest/gtest.h>

#include "tests/matrix/display_driver.h"
#include "tests/support/case_name.h"
#include "tests/support/test_files.h"
#include "tests/support/test_user.h"

#include <algorithm>
#include <cstring>
#include <sys/stat.h>

namespace velmora::matrix {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Lines = std::vector<std::string>;

const test::Position LEFT_TOP{10, 15, 0, 0};

class MatrixTest;

struct Scenario {
    const char* name;
    void (*play)(MatrixTest&);
};

class MatrixTest : public ::testing::TestWithParam<Scenario> {
public:
    DisplayDriver& display() { return *driver_; }

    // Puts the launcher beside a menu of Alpha, Bravo, Charlie at `at`
    // (item i records "item<i>" and its arguments), starts it and waits
    // for its menu.
    Rect launch(const test::Position& at, const Lines& arguments = {}) {
        fs::create_directories(app());
        ::chmod(app().c_str(), 0777);
        fs::remove(launcherLog());
        driver_->launch(driver_->install(app(), {"&Alpha", "&Bravo", "&Charlie"}, at), arguments);
        const Rect menu = driver_->waitForMenu();
        EXPECT_FALSE(menu.empty()) << "no menu was shown";
        return menu;
    }
    void expectEnds() {
        const auto code = driver_->waitForExit();
        ASSERT_TRUE(code.has_value()) << "the launcher did not end";
        EXPECT_EQ(*code, 0);
    }
    Lines launched(std::chrono::milliseconds limit) { return driver_->launched(app(), limit); }
    void expectNothingLaunched() { EXPECT_EQ(launched(1s), Lines()); }

    // The table's expectation moved to this display's work area: the
    // table is written for a 240 x 320 screen at (0, 0).
    void expectPlacedAs(const char* name) {
        const auto* c =
            std::find_if(std::begin(test::PLACEMENT_CASES), std::end(test::PLACEMENT_CASES),
                         [&](const auto& row) { return std::strcmp(row.name, name) == 0; });
        ASSERT_NE(c, std::end(test::PLACEMENT_CASES)) << name;
        const Rect area = driver_->workArea();
        const Rect menu = launch(c->position);
        ASSERT_FALSE(menu.empty());
        expectSide(moved(c->horizontal, area.width - test::SCREEN_WIDTH), menu.left - area.left,
                   menu.width, "x");
        expectSide(moved(c->vertical, area.height - test::SCREEN_HEIGHT), menu.top - area.top,
                   menu.height, "y");
        driver_->key("Escape");
        expectEnds();
    }

protected:
    static void startDisplay(DisplayId display, const char* name) {
        folder_ = new test::TempFolder;
        displayFolder_ = folder_->path() / name;
        // The display's users reach the launcher's folder through it.
        ::chmod(folder_->path().c_str(), 0711);
        fs::create_directory(folder_->path() / name);
        test::giveToUser(folder_->path() / name);
        driver_ = makeDriver(display).release();
        try {
            driver_->start(folder_->path() / name);
        } catch (const std::exception& e) {
            startError_ = new std::string(std::string(name) + " did not start: " + e.what());
        }
    }
    static void TearDownTestSuite() {
        delete driver_;
        driver_ = nullptr;
        delete startError_;
        startError_ = nullptr;
        delete folder_;
        folder_ = nullptr;
    }

    void SetUp() override {
        const std::string reason = driver_->notApplicable(GetParam().name);
        if (!reason.empty()) {
            RecordProperty("not_applicable", reason);
            GTEST_SKIP() << reason;
        }
        if (startError_ != nullptr)
            FAIL() << *startError_;
    }
    void TearDown() override {
        // What the launcher said, where a driver keeps it, names the path
        // it took (a Wayland menu, or the X11 one through Xwayland).
        if (HasFailure() && fs::exists(launcherLog()))
            ADD_FAILURE() << "the launcher's output:\n" << test::readText(launcherLog());
        driver_->stopLauncher();
        driver_->closeOtherWindow();
    }

private:
    static fs::path app() { return folder_->path() / "app"; }
    static fs::path launcherLog() { return displayFolder_ / "launcher.log"; }
    static test::Expected moved(test::Expected e, int extra) {
        if (e.side == test::Side::Centre)
            e.at += extra / 2;
        else if (e.side == test::Side::End)
            e.at += extra;
        return e;
    }

    inline static test::TempFolder* folder_ = nullptr;
    inline static fs::path displayFolder_;
    inline static DisplayDriver* driver_ = nullptr;
    inline static std::string* startError_ = nullptr;
};

inline bool inside(const Rect& r, int x, int y) {
    return x >= r.left && x < r.left + r.width && y >= r.top && y < r.top + r.height;
}

// The other window, opened and shown to take keys before the launcher starts.
inline Rect openOther(MatrixTest& t) {
    const Rect other = t.display().openOtherWindow();
    t.display().type("k");
    EXPECT_EQ(t.display().otherWindowKeys(1, 10s), Lines{"k"})
        << "the other window does not record its keys";
    return other;
}

inline const Scenario SCENARIOS[] = {
    {"EscapeLaunchesNothing",
     [](MatrixTest& t) {
         t.launch(LEFT_TOP);
         t.display().key("Escape");
         t.expectEnds();
         t.expectNothingLaunched();
     }},
    {"DownReturnLaunchesTheFirstItemWithTheArguments",
     [](MatrixTest& t) {
         t.launch(LEFT_TOP, {"one", "two words"});
         t.display().key("Down");
         t.display().key("Return");
         t.expectEnds();
         EXPECT_EQ(t.launched(30s), (Lines{"item1", "one", "two words"}));
     }},
    {"AMnemonicLaunchesItsItem",
     [](MatrixTest& t) {
         t.launch(LEFT_TOP);
         t.display().type("c");
         t.expectEnds();
         EXPECT_EQ(t.launched(30s), Lines{"item3"});
     }},
    {"AClickOnAnItemLaunchesIt",
     [](MatrixTest& t) {
         const Rect menu = t.launch(LEFT_TOP);
         ASSERT_FALSE(menu.empty());
         const auto [x, y] = t.display().itemPoint(menu, 1, 3);
         t.display().click(x, y);
         t.expectEnds();
         EXPECT_EQ(t.launched(30s), Lines{"item2"})
             << "clicked at (" << x << ", " << y << ") in the menu found at (" << menu.left << ", "
             << menu.top << ") " << menu.width << " x " << menu.height;
     }},
    {"AClickOutsideOverAnotherWindowCloses",
     [](MatrixTest& t) {
         const Rect other = openOther(t);
         const Rect menu = t.launch(LEFT_TOP);
         ASSERT_FALSE(menu.empty());
         const int x = other.left + other.width - 10;
         const int y = other.top + other.height - 10;
         ASSERT_FALSE(inside(menu, x, y)) << "the other window lies under the menu";
         t.display().click(x, y);
         t.expectEnds();
         t.expectNothingLaunched();
     }},
    {"AClickOutsideOverTheDesktopCloses",
     [](MatrixTest& t) {
         const Rect menu = t.launch(LEFT_TOP);
         ASSERT_FALSE(menu.empty());
         const Rect area = t.display().workArea();
         const int x = area.left + area.width - 20;
         const int y = area.top + area.height - 20;
         ASSERT_FALSE(inside(menu, x, y));
         t.display().click(x, y);
         t.expectEnds();
         t.expectNothingLaunched();
     }},
    {"KeysTypedIntoTheMenuReachNoOtherWindow",
     [](MatrixTest& t) {
         openOther(t);
         t.launch(LEFT_TOP);
         t.display().type("x");
         t.display().key("Escape");
         t.expectEnds();
         t.expectNothingLaunched();
         EXPECT_EQ(t.display().otherWindowKeys(2, 1s), Lines{"k"});
     }},
    {"PlacedLeftTop", [](MatrixTest& t) { t.expectPlacedAs("LeftTop"); }},
    {"PlacedCentreMiddle", [](MatrixTest& t) { t.expectPlacedAs("CentreMiddle"); }},
    {"PlacedRightBottom", [](MatrixTest& t) { t.expectPlacedAs("RightBottom"); }},
    {"TheLockIsLetGoOnceTheMenuCloses",
     [](MatrixTest& t) {
         t.launch(LEFT_TOP);
         t.display().key("Escape");
         t.expectEnds();
         t.launch(LEFT_TOP);
         t.display().key("Escape");
         t.expectEnds();
         t.expectNothingLaunched();
     }},
};

inline void PrintTo(const Scenario& s, std::ostream* out) {
    *out << s.name;
}

// One fixture a display, so that each display starts once for its scenarios.
#define MATRIX_DISPLAY(NAME)                                                                       \
    class NAME : public MatrixTest {                                                               \
    public:                                                                                        \
        static void SetUpTestSuite() { startDisplay(DisplayId::NAME, #NAME); }                     \
    };                                                                                             \
    TEST_P(NAME, Scenario) {                                                                       \
        GetParam().play(*this);                                                                    \
    }                                                                                              \
    INSTANTIATE_TEST_SUITE_P(Matrix, NAME, ::testing::ValuesIn(SCENARIOS), test::CaseName())

} // namespace velmora::matrix
