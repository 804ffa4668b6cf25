// One update installation in a process of its own, measured: the program of
// scripts/benchmark-update-install, and the installers the tests start two at once.
//   quaymark-update-install-benchmark <application> <url> <length> <signature> <public key>
// The bundle at <application> must say CFBundleIdentifier "q" and an older version than the
// archive's. Prints, one "name: value" per line, the peak memory above the idle process, the
// longest gap between the turns of the event loop, and the time of each step and of the whole;
// or "failed: <reason>" and exits 1.
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QTimer>
#include <cstdio>
#include <fstream>
#include <iostream>

#include "TestPlatform.h"
#include "UpdateArchives.h"
#include "UpdateInstaller.h"
#include "launch/HostFileManager.h"

namespace quaymark {
namespace {

const char* stepName(InstallStep step) {
    switch (step) {
        case InstallStep::Downloading:
            return "download";
        case InstallStep::Verifying:
            return "verify";
        case InstallStep::Extracting:
            return "extract";
        case InstallStep::Installing:
            return "install";
    }
    return "?";
}

// Notes when each step starts; shows nothing.
class StepClock : public UpdateUserInterface {
public:
    explicit StepClock(QElapsedTimer& clock) : _clock(clock) {}
    void showCheckingProgress(std::function<void()>) override {}
    void closeCheckingProgress() override {}
    void showUpdateAvailable(const UpdateOffer&, std::function<void(UpdateChoice)>) override {}
    void showUpToDate(const std::string&) override {}
    void showError(const std::string&) override {}
    bool openUrl(const std::string&) override { return false; }
    void setInstallStep(InstallStep step) override {
        steps.emplace_back(step, _clock.nsecsElapsed());
    }

    std::vector<std::pair<InstallStep, qint64>> steps;

private:
    QElapsedTimer& _clock;
};

// The loop turns every 10 ms when nothing holds it; the longest gap between two turns is its
// longest stall.
class LoopGaps {
public:
    LoopGaps() {
        QObject::connect(&_tick, &QTimer::timeout, [this] {
            longest = std::max(longest, _sinceTick.nsecsElapsed());
            _sinceTick.restart();
        });
    }
    void start() {
        _sinceTick.start();
        _tick.start(10);
    }
    void stop() { _tick.stop(); }

    qint64 longest = 0;

private:
    QTimer _tick;
    QElapsedTimer _sinceTick;
};

SUAppcastItem offeredItem(char** argv) {
    SUAppcastItem item;
    item.enclosureURL = argv[2];
    item.enclosureLength = std::stoull(argv[3]);
    item.edSignature = argv[4];
    return item;
}

// Each step lasts until the next one starts, the last until the installation ends.
void printMeasurements(std::uint64_t peakAboveIdle, qint64 longestGap,
                       const std::vector<std::pair<InstallStep, qint64>>& steps, qint64 total) {
    const auto seconds = [](qint64 ns) { return static_cast<double>(ns) / 1e9; };
    std::printf("peak memory above idle (MB): %.1f\n",
                static_cast<double>(peakAboveIdle) / (1024.0 * 1024.0));
    std::printf("longest event loop gap (ms): %.1f\n", static_cast<double>(longestGap) / 1e6);
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const qint64 end = i + 1 < steps.size() ? steps[i + 1].second : total;
        std::printf("%s (s): %.3f\n", stepName(steps[i].first), seconds(end - steps[i].second));
    }
    std::printf("total (s): %.3f\n", seconds(total));
}

}  // namespace
}  // namespace quaymark

int main(int argc, char** argv) {
    using namespace quaymark;
    QCoreApplication application(argc, argv);
    if (argc != 6) {
        std::cerr << "usage: " << argv[0] << " APPLICATION URL LENGTH SIGNATURE PUBLIC_KEY\n";
        return 2;
    }
    TestPlatform test;
    test.mainBundle.info = {
        {"CFBundleIdentifier", "q"}, {"CFBundleVersion", "1.0"}, {"SUPublicEDKey", argv[5]}};
    HostFileManager files(SystemRoot("/nonexistent-root"), "/nonexistent-home");
    const Platform withFiles = test.platform().withFileManager(files);
    QElapsedTimer clock;
    StepClock ui(clock);
    QNetworkAccessManager network;
    UpdateInstaller installer(withFiles, network, ui,
                              {.applicationPath = argv[1],
                               .relaunch = [](const std::string&) { return true; },
                               .quit = [] {}});
    const SUAppcastItem item = offeredItem(argv);
    LoopGaps gaps;

    // Idle: everything above is set up and the loop has turned. Writing 5 to clear_refs
    // starts the peak afresh from what is resident now.
    std::optional<std::string> outcome;
    std::uint64_t idle = 0;
    QTimer::singleShot(200, [&] {
        std::ofstream("/proc/self/clear_refs") << "5";
        idle = testing::statusBytes("VmRSS");
        clock.start();
        gaps.start();
        installer.install(item, [&](std::optional<std::string> failure) {
            outcome = failure.value_or("");
            QCoreApplication::exit(0);
        });
    });
    application.exec();
    const qint64 total = clock.nsecsElapsed();
    gaps.stop();
    const std::uint64_t peak = testing::statusBytes("VmHWM");

    if (!outcome || !outcome->empty()) {
        std::cout << "failed: " << outcome.value_or("no outcome") << "\n";
        return 1;
    }
    printMeasurements(peak > idle ? peak - idle : 0, gaps.longest, ui.steps, total);
    return 0;
}
