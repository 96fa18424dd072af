// What the Linux displays share: the Linux launcher beside its
// configuration, whose items run the drawn-menu suites' recorder script.
#pragma once

#include "tests/matrix/display_driver.h"
#include "tests/support/menu_folder.h"

namespace velmora::matrix {

class NativeDriver : public DisplayDriver {
public:
    std::filesystem::path install(const std::filesystem::path& app,
                                  const std::vector<std::string>& titles,
                                  const test::Position& at) override {
        std::filesystem::remove(app / "launched");
        std::filesystem::copy_file(VELMORA_BINARY, app / "velmora",
                                   std::filesystem::copy_options::overwrite_existing);
        test::writeFile(app / "velmini", test::menuConfiguration(app, titles, at));
        std::filesystem::permissions(app / "velmini", std::filesystem::perms::owner_read |
                                                          std::filesystem::perms::owner_write |
                                                          std::filesystem::perms::group_read |
                                                          std::filesystem::perms::others_read);
        return app / "velmora";
    }
    std::vector<std::string> launched(const std::filesystem::path& app,
                                      std::chrono::milliseconds limit) override {
        return test::launchedLines(app, limit);
    }
};

} // namespace velmora::matrix
