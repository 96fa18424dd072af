// How loading a configuration and building its menu grow with the file.
// "Memory" cases read the file from the imitation system (the core alone);
// "File" cases read a real file in a temporary folder through the host
// system. Every menu is dismissed, so nothing is launched.
#include "check_report.h"
#include "config/config_file.h"
#include "menu/launcher_menu.h"
#include "platform/fake/platform_fake.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <string_view>

namespace {

using namespace velmora;

// n numbered sections with a title and an exec each, then the placement.
std::string configText(std::int64_t sections) {
    std::string text;
    for (std::int64_t i = 1; i <= sections; ++i) {
        const std::string n = std::to_string(i);
        text += "# Program " + n + "\n[" + n + "]\ntitle=Program " + n +
                "\nexec=\\Program Files\\Program " + n + "\\program.exe\n\n";
    }
    text += "[position]\nxAlign=1\nyAlign=2\nx=0\ny=-26\n";
    return text;
}

// The configuration in memory (or, with `files`, real files through that
// system), a menu that is dismissed, and no recording of calls.
std::unique_ptr<PlatformFake> benchPlatform(std::string text, Platform* files = nullptr) {
    auto platform = std::make_unique<PlatformFake>();
    platform->files[u"/bench/velmini"] = FakeFile{std::move(text)};
    platform->fileSystem = files;
    platform->recordCalls = false;
    return platform;
}

// A configuration file in a temporary folder, removed afterwards.
class TempConfigFile {
public:
    explicit TempConfigFile(const std::string& text) {
        std::random_device seed;
        dir_ = std::filesystem::temp_directory_path() /
               ("velmora-bench-" + std::to_string(std::mt19937_64(seed())()));
        std::filesystem::create_directory(dir_);
        std::ofstream out(dir_ / "velmini", std::ios::binary);
        out.write(text.data(), static_cast<std::streamsize>(text.size()));
    }
    TempConfigFile(const TempConfigFile&) = delete;
    TempConfigFile& operator=(const TempConfigFile&) = delete;
    ~TempConfigFile() {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
    std::u16string path() const {
        const std::string native = (dir_ / "velmini").string();
        return std::u16string(native.begin(), native.end()); // ASCII temp path
    }

private:
    std::filesystem::path dir_;
};

void loadMemory(benchmark::State& state) {
    const auto fake = benchPlatform(configText(state.range(0)));
    PlatformFake& platform = *fake;
    for (auto _ : state) {
        ConfigFile config(platform, u"/bench/velmini");
        benchmark::DoNotOptimize(config.sections().size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void loadFile(benchmark::State& state) {
    const TempConfigFile file(configText(state.range(0)));
    const std::unique_ptr<Platform> host = createHostPlatform();
    for (auto _ : state) {
        ConfigFile config(*host, file.path());
        if (config.fileMissing())
            state.SkipWithError("the temporary file cannot be read");
        benchmark::DoNotOptimize(config.sections().size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void menu(benchmark::State& state) {
    const auto fake = benchPlatform(configText(state.range(0)));
    PlatformFake& platform = *fake;
    ConfigFile config(platform, u"/bench/velmini");
    for (auto _ : state)
        benchmark::DoNotOptimize(runLauncherMenu(platform, config, u""));
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// What one run of the launcher does with the file: load it, build the menu.
void loadAndMenu(benchmark::State& state, PlatformFake& platform, const std::u16string& path) {
    for (auto _ : state) {
        ConfigFile config(platform, path);
        benchmark::DoNotOptimize(runLauncherMenu(platform, config, u""));
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void loadAndMenuMemory(benchmark::State& state) {
    const auto fake = benchPlatform(configText(state.range(0)));
    loadAndMenu(state, *fake, u"/bench/velmini");
}

void loadAndMenuFile(benchmark::State& state) {
    const TempConfigFile file(configText(state.range(0)));
    const std::unique_ptr<Platform> host = createHostPlatform();
    const auto fake = benchPlatform("", host.get());
    loadAndMenu(state, *fake, file.path());
}

// The checker on the same files: load, lint, menu and the JSON report.
void checkerJson(benchmark::State& state) {
    const auto fake = benchPlatform(configText(state.range(0)));
    PlatformFake& platform = *fake;
    for (auto _ : state) {
        const check::CheckReport report =
            check::checkConfigFile(platform, u"/bench/velmini", check::ScreenSize{});
        benchmark::DoNotOptimize(check::reportToJson(report).size());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

BENCHMARK(loadMemory)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(loadFile)->Arg(1000)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(menu)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(loadAndMenuMemory)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(loadAndMenuFile)->Arg(100000)->Unit(benchmark::kMillisecond);
BENCHMARK(checkerJson)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond);

} // namespace
