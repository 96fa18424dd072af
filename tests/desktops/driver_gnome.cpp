// GNOME Shell: keys and pointer through mutter's org.gnome.Mutter.RemoteDesktop
// (a session lives as long as the connection that made it, hence a driver
// that stays), screenshots through org.gnome.Shell.Screenshot, which serves
// only the owner of one of a few names, of which org.gnome.Screenshot (the
// screenshot tool's) is taken here.
#include "driver.h"
#include "driver_bus.h"

#include <png.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <thread>

namespace velmora::desktops {

namespace {

constexpr const char* MUTTER = "org.gnome.Mutter.RemoteDesktop";
constexpr const char* SESSION = "org.gnome.Mutter.RemoteDesktop.Session";
constexpr const char* SHELL = "org.gnome.Shell";

// Further than any screen is wide: a relative move by this much, with the
// pointer held inside the screen, lands it in that corner.
constexpr double FAR = 100000;

Pixels readPng(const std::string& file) {
    png_image png{};
    png.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&png, file.c_str()) == 0)
        throw std::runtime_error("cannot read GNOME's screenshot: " + std::string(png.message));
    png.format = PNG_FORMAT_RGB;
    std::vector<unsigned char> bytes(PNG_IMAGE_SIZE(png));
    if (png_image_finish_read(&png, nullptr, bytes.data(), 0, nullptr) == 0)
        throw std::runtime_error("cannot decode GNOME's screenshot: " + std::string(png.message));
    Pixels image;
    image.width = static_cast<int>(png.width);
    image.height = static_cast<int>(png.height);
    image.rgb.reserve(bytes.size() / 3);
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 3)
        image.rgb.push_back((std::uint32_t{bytes[i]} << 16) | (std::uint32_t{bytes[i + 1]} << 8) |
                            bytes[i + 2]);
    return image;
}

class Gnome final : public Desktop {
public:
    Gnome(int width, int height) : width_(width), height_(height) {
        for (const char* name : {MUTTER, "org.gnome.Shell.Screenshot", SHELL}) {
            if (!bus_.hasOwner(name))
                throw std::runtime_error(std::string(name) + " is not on the session bus");
        }
        const VariantPtr created = bus_.call(MUTTER, "/org/gnome/Mutter/RemoteDesktop", MUTTER,
                                             "CreateSession", nullptr, "(o)");
        const gchar* path = nullptr;
        g_variant_get(created.get(), "(&o)", &path);
        session_ = path;
        sessionCall("Start", nullptr);
        bus_.own("org.gnome.Screenshot");
        leaveOverview();
        // A new session's first pointer motion reaches the windows only with
        // the next frame the shell draws: a press sent before it goes to no
        // window (measured: one first click in three was lost). A user's
        // pointer has moved long before any click, so it moves once here,
        // into the bottom right corner, and a screenshot waits for that frame.
        move(width - 1, height - 1);
        screenshot();
    }
    ~Gnome() override {
        try {
            sessionCall("Stop", nullptr);
        } catch (const std::exception&) {
            // the shell is gone already
        }
    }

    void key(xkb_keysym_t keysym, bool pressed) override {
        sessionCall("NotifyKeyboardKeysym", g_variant_new("(ub)", keysym, pressed));
    }
    void move(double x, double y) override {
        // Absolute moves need a screen cast stream; relative ones do not.
        // The pointer goes to the bottom right corner first: the top left
        // one is the hot corner that opens the overview.
        sessionCall("NotifyPointerMotionRelative", g_variant_new("(dd)", FAR, FAR));
        sessionCall("NotifyPointerMotionRelative",
                    g_variant_new("(dd)", x - (width_ - 1), y - (height_ - 1)));
    }
    void button(std::uint32_t code, bool pressed) override {
        sessionCall("NotifyPointerButton",
                    g_variant_new("(ib)", static_cast<gint32>(code), pressed));
    }
    void awaitOverview(bool shown) override {
        if (!overviewWithin(shown, std::chrono::seconds(10)))
            throw std::runtime_error(shown ? "GNOME Shell shows no overview"
                                           : "GNOME Shell stays in the overview");
    }
    Pixels screenshot() override {
        char name[] = "/tmp/velmora-gnome-shot-XXXXXX.png";
        const int fd = ::mkstemps(name, 4);
        if (fd < 0)
            throw std::runtime_error("no temporary file for the screenshot");
        ::close(fd);
        try {
            const VariantPtr reply =
                bus_.call("org.gnome.Shell.Screenshot", "/org/gnome/Shell/Screenshot",
                          "org.gnome.Shell.Screenshot", "Screenshot",
                          g_variant_new("(bbs)", FALSE, FALSE, name), "(bs)");
            gboolean done = FALSE;
            g_variant_get(reply.get(), "(b&s)", &done, nullptr);
            if (!done)
                throw std::runtime_error("GNOME Shell took no screenshot");
            Pixels image = readPng(name);
            ::unlink(name);
            return image;
        } catch (...) {
            ::unlink(name);
            throw;
        }
    }

private:
    void sessionCall(const char* method, GVariant* arguments) const {
        bus_.call(MUTTER, session_.c_str(), SESSION, method, arguments, nullptr);
    }
    bool overviewActive() const {
        const VariantPtr active = bus_.property(SHELL, "/org/gnome/Shell", SHELL, "OverviewActive");
        return g_variant_get_boolean(active.get()) != FALSE;
    }
    bool overviewWithin(bool active, std::chrono::seconds limit) const {
        const auto deadline = std::chrono::steady_clock::now() + limit;
        while (overviewActive() != active) {
            if (std::chrono::steady_clock::now() > deadline)
                return false;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return true;
    }
    // GNOME Shell ends its start-up animation in the overview, as it greets
    // a user who logs in; Escape then leaves it for the desktop, as the user
    // would. (Before that, input goes nowhere and the screen is black.)
    void leaveOverview() {
        if (!overviewWithin(true, std::chrono::seconds(30)))
            throw std::runtime_error("GNOME Shell never showed its overview");
        key(XKB_KEY_Escape, true);
        key(XKB_KEY_Escape, false);
        awaitOverview(false);
    }

    SessionBus bus_;
    std::string session_;
    int width_;
    int height_;
};

} // namespace

std::unique_ptr<Desktop> connectGnome(int width, int height) {
    return std::make_unique<Gnome>(width, height);
}

} // namespace velmora::desktops
