// The Linux entry point: hands the arguments to the launcher's run.
#include "app/startup.h"
#include "platform/platform.h"

int main(int, char**) {
    const auto platform = velmora::createHostPlatform();
    return velmora::runLauncher(*platform, nullptr, u"");
}
