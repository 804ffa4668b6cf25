// Times the installer's own work on a large Finder preference file: loading the toolbar
// configuration, and install and uninstall (load, edit, save) with the Finder restart left to
// doubles that answer at once. The file is about 200 KB in the format under test.
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "FinderPreferencesFile.h"
#include "FinderToolBarController.h"
#include "HostTestSupport.h"
#include "TestPlatform.h"
#include "plist/PlistCodec.h"
#include "preferences/FilePreferences.h"

namespace quaymark {
namespace {

using namespace finder_toolbar;

class InstallerFixture : public benchmark::Fixture {
public:
    void SetUp(const benchmark::State& state) override {
        format = state.range(0) == 0 ? PlistFormat::Binary : PlistFormat::Xml;
        directory.emplace();
        std::string contents = encodePlist(PlistValue(finderPreferences(format)), format);
        fileSize = contents.size();
        std::ofstream(directory->path() / "com.apple.finder.plist", std::ios::binary) << contents;
        test.emplace();
        preferences.emplace(directory->path().string(), test->log);
        test->fileManager.addFolder("/Applications/Quaymark.app/Contents/MacOS/QuaymarkHelper.app");
        // Finder runs throughout, so every restart ends after its first slice, which the
        // manual run loop does not wait for.
        test->workspace.addRunningApplication({99, kFinderDomain, "Finder"});
        platform.emplace(test->platform().withPreferences(*preferences));
        controller.emplace(*platform);
    }
    void TearDown(const benchmark::State&) override {
        controller.reset();
        platform.reset();
        test.reset();
        preferences.reset();
        directory.reset();
    }
    void report(benchmark::State& state) {
        state.counters["file_kB"] = static_cast<double>(fileSize) / 1024;
    }

    PlistFormat format = PlistFormat::Binary;
    std::size_t fileSize = 0;
    std::optional<testing::TemporaryDirectory> directory;
    std::optional<FilePreferences> preferences;
    std::optional<TestPlatform> test;
    std::optional<Platform> platform;
    std::optional<FinderToolBarController> controller;
};

BENCHMARK_DEFINE_F(InstallerFixture, Load)(benchmark::State& state) {
    for (auto _ : state) {
        // A new store each time, as each run of the program has: it keeps what it read once,
        // and the first read is the one to time. Made in place, so the platform still names it.
        state.PauseTiming();
        preferences.emplace(directory->path().string(), test->log);
        state.ResumeTiming();
        benchmark::DoNotOptimize(controller->createToolbarConfigurationBrowserDictionary());
    }
    report(state);
}

BENCHMARK_DEFINE_F(InstallerFixture, Install)(benchmark::State& state) {
    for (auto _ : state) {
        controller->installHelper();
        state.PauseTiming();
        controller->uninstallHelper();
        test->calls.clear();
        state.ResumeTiming();
    }
    report(state);
}

BENCHMARK_DEFINE_F(InstallerFixture, Uninstall)(benchmark::State& state) {
    for (auto _ : state) {
        state.PauseTiming();
        controller->installHelper();
        test->calls.clear();
        state.ResumeTiming();
        controller->uninstallHelper();
    }
    report(state);
}

// Argument 0: a binary file, 1: an XML file.
BENCHMARK_REGISTER_F(InstallerFixture, Load)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_REGISTER_F(InstallerFixture, Install)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK_REGISTER_F(InstallerFixture, Uninstall)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quaymark

BENCHMARK_MAIN();
