// What the displays played on an Xvfb screen share: the launcher is this
// program's child, and keys and clicks are xdotool's on that screen.
#pragma once

#include "tests/matrix/native_driver.h"
#include "tests/x11/x11_session.h"

#include <string>
#include <vector>

namespace velmora::matrix {

class XdotoolDriver : public NativeDriver {
public:
    std::optional<int> waitForExit() override { return launcher_.wait(std::chrono::seconds(30)); }
    void stopLauncher() override { launcher_.stop(); }

    void key(const std::string& keysym) override { xdotool({"key", keysym}); }
    void type(const std::string& text) override { xdotool({"type", text}); }
    void click(int x, int y) override {
        xdotool({"mousemove", std::to_string(x), std::to_string(y), "click", "1"});
    }

protected:
    // The X display that xdotool types at.
    virtual std::string inputDisplay() const = 0;
    void xdotool(const std::vector<std::string>& arguments) const {
        x11test::xdotool(inputDisplay(), arguments);
    }

    x11test::ChildProcess launcher_;
};

} // namespace velmora::matrix
