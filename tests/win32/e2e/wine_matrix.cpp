// The matrix's Wine column (the table: tests/matrix/matrix_scenarios.h), on
// the Wine program's Xvfb screen with openbox, driven with xdotool as its
// other scenarios are; the other application is xev.
#include "tests/matrix/matrix_scenarios.h"
#include "tests/matrix/xev_keys.h"
#include "tests/win32/e2e/wine_harness.h"

using namespace velmora::winetest;

namespace {

// The words of a command line's arguments part as the runtime splits them
// (blanks part them; double quotes hold blanks in).
std::vector<std::string> splitArguments(const std::string& text) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, any = false;
    for (const char c : text) {
        if (c == '"') {
            quoted = !quoted;
            any = true;
        } else if (c == ' ' && !quoted) {
            if (any)
                words.push_back(word);
            word.clear();
            any = false;
        } else {
            word.push_back(c);
            any = true;
        }
    }
    if (any)
        words.push_back(word);
    return words;
}

class WineDriver : public velmora::matrix::DisplayDriver {
public:
    using Rect = velmora::matrix::Rect;

    void start(const fs::path& folder) override { folder_ = folder; }
    Rect workArea() const override { return {0, 0, screenSize().width, screenSize().height}; }

    fs::path install(const fs::path& app, const std::vector<std::string>& titles,
                     const velmora::test::Position& at) override {
        std::string config;
        for (std::size_t i = 1; i <= titles.size(); ++i) {
            const fs::path recorder = app / ("item" + std::to_string(i) + ".exe");
            fs::copy_file(settings.recorder, recorder, fs::copy_options::overwrite_existing);
            fs::remove(record(app, i));
            config += "[" + std::to_string(i) + "]\r\ntitle=" + titles[i - 1] +
                      "\r\nexec=" + windowsPath(recorder) + "\r\n";
        }
        count_ = titles.size();
        writeFile(app / "velmora.ini", config + "[position]\r\nx=" + std::to_string(at.x) +
                                           "\r\ny=" + std::to_string(at.y) +
                                           "\r\nxAlign=" + std::to_string(at.xAlign) +
                                           "\r\nyAlign=" + std::to_string(at.yAlign) + "\r\n");
        fs::copy_file(settings.launcher, app / "velmora.exe", fs::copy_options::overwrite_existing);
        return app / "velmora.exe";
    }
    std::vector<std::string> launched(const fs::path& app,
                                      std::chrono::milliseconds limit) override {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            for (std::size_t i = 1; i <= count_; ++i) {
                if (const auto text = readFile(record(app, i))) {
                    std::vector<std::string> lines{"item" + std::to_string(i)};
                    for (auto& word : splitArguments(*text))
                        lines.push_back(word);
                    return lines;
                }
            }
            if (std::chrono::steady_clock::now() > until)
                return {};
            std::this_thread::sleep_for(50ms);
        }
    }

    void launch(const fs::path& launcher, const std::vector<std::string>& arguments) override {
        std::string text;
        for (const auto& argument : arguments) {
            const bool blank = argument.find(' ') != std::string::npos;
            text += (text.empty() ? "" : " ") + (blank ? "\"" + argument + "\"" : argument);
        }
        // A scenario does not inherit where the pointer rests from the one
        // before, but finds it in the screen's corner, off every menu of the
        // table.
        xdotool({"mousemove", std::to_string(screenSize().width - 1),
                 std::to_string(screenSize().height - 1)});
        launcher_.emplace(launcher, text);
    }
    Rect waitForMenu() override {
        const auto menu = ::waitForMenu(*launcher_);
        return menu ? Rect{menu->x, menu->y, menu->width, menu->height} : Rect{};
    }
    std::optional<int> waitForExit() override { return launcher_->wait(); }
    // A launcher that still runs is ended with the prefix's programs (its
    // Wine process outlives the starter), and the session starts anew.
    void stopLauncher() override {
        if (launcher_ && !launcher_->poll()) {
            stopWine();
            startWineSession();
        }
        launcher_.reset();
    }

    void key(const std::string& keysym) override { xdotool({"key", keysym}); }
    void type(const std::string& text) override { xdotool({"type", text}); }
    void click(int x, int y) override { ::click(x, y); }

    Rect openOtherWindow() override {
        const Rect place{70, 190, 160, 120};
        const Descriptor log(
            ::open((folder_ / "xev.log").c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
        other_ =
            spawn(velmora::matrix::xevArguments(place.left, place.top, place.width, place.height),
                  log.get());
        xdotool({"search", "--sync", "--name", "velmora-other", "windowfocus", "--sync"});
        return place;
    }
    std::vector<std::string> otherWindowKeys(std::size_t least,
                                             std::chrono::milliseconds limit) override {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            auto keys = velmora::matrix::xevKeys(readFile(folder_ / "xev.log").value_or(""));
            if (keys.size() >= least || std::chrono::steady_clock::now() > until)
                return keys;
            std::this_thread::sleep_for(20ms);
        }
    }
    void closeOtherWindow() override { other_.stop(); }

private:
    static fs::path record(const fs::path& app, std::size_t item) {
        return app / ("item" + std::to_string(item) + ".exe.txt");
    }
    static void xdotool(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "xdotool");
        if (run(arguments).exitCode != 0)
            throw std::runtime_error("xdotool failed: " + arguments[1]);
    }

    fs::path folder_;
    std::size_t count_ = 0;
    std::optional<Launcher> launcher_;
    Child other_;
};

} // namespace

namespace velmora::matrix {
namespace {
MATRIX_DISPLAY(Wine);
} // namespace

std::unique_ptr<DisplayDriver> makeDriver(DisplayId display) {
    if (display != DisplayId::Wine)
        throw std::logic_error("the Linux displays are played by the Linux matrix program");
    return std::make_unique<WineDriver>();
}
} // namespace velmora::matrix
