#include <QNetworkAccessManager>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>
#include <filesystem>
#include <map>

#include "FeedServer.h"
#include "RecordingUserInterface.h"
#include "TestPlatform.h"
#include "UpdateArchives.h"
#include "UpdateInstaller.h"
#include "launch/HostFileManager.h"

namespace quaymark {
namespace {

namespace fs = std::filesystem;

// Quaymark 1.0 installed in a temporary Applications folder, and a signed 1.1 on 127.0.0.1.
struct Rig {
    Rig() : files(SystemRoot(folder.path().toStdString() + "/root"), folder.path().toStdString()) {
        server.listen();
        bundle.info = {{"CFBundleIdentifier", "q"},
                       {"CFBundleVersion", "1.0"},
                       {"SUPublicEDKey", key.publicKeyBase64()}};
        testing::materialise(root + "/Applications", testing::bundleEntries("q", "1.0"));
        fs::create_directory(root + "/feed");
        publish(testing::bundleEntries("q", "1.1"));
    }
    void publish(const std::vector<testing::ArchiveEntry>& entries) {
        testing::writeArchive(root + "/feed/update.zip", testing::ArchiveFormat::Zip, entries);
        const std::string bytes = testing::readFile(root + "/feed/update.zip");
        item.enclosureURL = server.url("/update.zip").toString().toStdString();
        item.enclosureLength = bytes.size();
        item.edSignature = key.signBase64(bytes);
    }
    std::optional<std::string> install() {
        std::optional<std::optional<std::string>> outcome;
        installer.install(
            item, [&outcome](std::optional<std::string> failure) { outcome = std::move(failure); });
        if (!QTest::qWaitFor([&outcome] { return outcome.has_value(); }, 20'000))
            return "no outcome";
        return *outcome;
    }
    std::string applications() const { return testing::treePicture(root + "/Applications"); }
    // The Applications folder as it is with only `version` in it.
    static std::string applicationsWith(const std::string& version) {
        QTemporaryDir expected;
        testing::materialise(expected.path().toStdString(), testing::bundleEntries("q", version));
        return testing::treePicture(expected.path().toStdString());
    }

    QTemporaryDir folder;
    const std::string root = folder.path().toStdString();
    testing::SigningKey key;
    TestPlatform test;
    FakeBundle bundle{test.calls};
    HostFileManager files;
    Platform platform = test.platform().withFileManager(files).withBundle(bundle);
    testing::RecordingUserInterface ui;
    QNetworkAccessManager network;
    FeedServer server{QString::fromStdString(root + "/feed")};
    std::vector<std::string> relaunched;
    int quits = 0;
    SUAppcastItem item;
    UpdateInstaller installer{
        platform, network, ui,
        UpdateInstallerOptions{.applicationPath = root + "/Applications/Quaymark.app",
                               .relaunch =
                                   [this](const std::string& executable) {
                                       relaunched.push_back(executable);
                                       return true;
                                   },
                               .quit = [this] { ++quits; }}};
};

using Entries = std::vector<testing::ArchiveEntry>;
ScriptedResponse answer(QByteArray body, std::chrono::milliseconds trickle = {}) {
    ScriptedResponse response;
    response.body = std::move(body);
    response.trickleInterval = trickle;
    return response;
}

// Each refusal's message, and how the update is spoiled to earn it.
const struct {
    const char* message;
    std::function<void(Rig&, Entries&)> make;
} kFaults[] = {
    {"does not match", [](Rig& rig, Entries&) { rig.item.edSignature = rig.key.signBase64("?"); }},
    {"not signed", [](Rig& rig, Entries&) { rig.item.edSignature.clear(); }},
    {"no public key", [](Rig& rig, Entries&) { rig.bundle.info.erase("SUPublicEDKey"); }},
    {"more than the",
     [](Rig& rig, Entries&) {
         ScriptedResponse endless;
         endless.generatedBodySize = 1ll << 40;
         endless.declareLength = false;
         rig.server.script("/update.zip", endless);
     }},
    {"incomplete",
     [](Rig& rig, Entries&) {
         const std::string archive = testing::readFile(rig.root + "/feed/update.zip");
         rig.server.script("/update.zip", answer(QByteArray::fromStdString(archive).left(900)));
     }},
    // One of the archive's refusals stands for all of them, which have their own table.
    {"\"..\"",
     [](Rig&, Entries& e) {
         e.push_back({e[0].File, "Quaymark.app/../../x", "x"});
     }},
    {"another application", [](Rig&, Entries& e) { e = testing::bundleEntries("other", "1.1"); }},
    {"not newer", [](Rig&, Entries& e) { e = testing::bundleEntries("q", "0.9"); }},
    {"lacks its executable", [](Rig&, Entries& e) { e.erase(e.begin() + 8); }},
    {"no readable Info.plist", [](Rig&, Entries& e) { e.erase(e.begin() + 2); }},
    {"cancelled",
     [](Rig& rig, Entries&) {
         const std::string archive = testing::readFile(rig.root + "/feed/update.zip");
         rig.server.script("/update.zip", answer(QByteArray::fromStdString(archive),
                                                 std::chrono::milliseconds(20)));
         QTimer::singleShot(300, [&rig] {
             rig.ui.cancelled = true;
             rig.ui.cancel();
         });
     }},
};

class UpdateInstallerTests : public QObject {
    Q_OBJECT
private slots:
    void replacesTheApplicationAndStartsTheNewVersion() {
        Rig rig;
        fs::create_directories(rig.root + "/Applications/.Quaymark.app.update-left/x");
        QCOMPARE(rig.install(), std::nullopt);
        QCOMPARE(rig.applications(), Rig::applicationsWith("1.1"));
        QCOMPARE(rig.relaunched,
                 std::vector<std::string>{rig.root +
                                          "/Applications/Quaymark.app/Contents/MacOS/Quaymark"});
        QCOMPARE(rig.quits, 1);
        QCOMPARE(rig.ui.lastReceived, rig.item.enclosureLength);
        QCOMPARE(rig.ui.steps,
                 (std::vector<InstallStep>{InstallStep::Downloading, InstallStep::Verifying,
                                           InstallStep::Extracting, InstallStep::Installing}));
    }

    void cancelInEachStepLeavesTheOldApplication_data() {
        QTest::addColumn<int>("stepNumber");
        QTest::newRow("verifying") << static_cast<int>(InstallStep::Verifying);
        QTest::newRow("extracting") << static_cast<int>(InstallStep::Extracting);
    }
    void cancelInEachStepLeavesTheOldApplication() {
        QFETCH(int, stepNumber);
        const auto step = static_cast<InstallStep>(stepNumber);
        Rig rig;
        // Enough files that unpacking runs for far longer than the main thread takes to hear
        // that it started.
        rig.publish(testing::bundleEntries("q", "1.1", 20'000));
        const std::string before = rig.applications();
        rig.ui.cancelAt = step;
        const std::optional<std::string> failure = rig.install();
        QCOMPARE(failure, std::optional<std::string>("The update was cancelled."));
        QCOMPARE(rig.applications(), before);
        QVERIFY(rig.ui.errors.isEmpty());
        QVERIFY(rig.relaunched.empty());
        QCOMPARE(rig.ui.steps.back(), step);
    }

    void twoProcessesAtOnceLeaveOneNewerApplication() {
        Rig rig;
        // The archive is held back, so that the first installer still downloads when the
        // second one starts.
        ScriptedResponse slow;
        slow.body = QByteArray::fromStdString(testing::readFile(rig.root + "/feed/update.zip"));
        slow.delay = std::chrono::milliseconds(2000);
        rig.server.script("/update.zip", slow);
        const QStringList arguments{QString::fromStdString(rig.root + "/Applications/Quaymark.app"),
                                    QString::fromStdString(rig.item.enclosureURL),
                                    QString::number(rig.item.enclosureLength),
                                    QString::fromStdString(rig.item.edSignature),
                                    QString::fromStdString(rig.key.publicKeyBase64())};
        QProcess first, second;
        first.start(QUAYMARK_INSTALL_PROGRAM, arguments);
        second.start(QUAYMARK_INSTALL_PROGRAM, arguments);
        QTRY_VERIFY_WITH_TIMEOUT(
            first.state() == QProcess::NotRunning && second.state() == QProcess::NotRunning,
            20'000);
        const QList<int> statuses{first.exitCode(), second.exitCode()};
        QCOMPARE(statuses.count(0), 1);
        QCOMPARE(statuses.count(1), 1);
        QProcess& refused = first.exitCode() == 1 ? first : second;
        QCOMPARE(
            QString::fromUtf8(refused.readAllStandardOutput()).trimmed(),
            QString("failed: Another update of Quaymark.app is being installed. Wait until it has "
                    "finished, then check for updates again."));
        QCOMPARE(rig.applications(), Rig::applicationsWith("1.1"));
        QCOMPARE(rig.server.requestCount("/update.zip"), 1);
    }

    void refusalsLeaveTheApplicationAsItWas_data() {
        QTest::addColumn<int>("fault");
        for (std::size_t i = 0; i < std::size(kFaults); ++i)
            QTest::newRow(kFaults[i].message) << static_cast<int>(i);
    }
    void refusalsLeaveTheApplicationAsItWas() {
        QFETCH(int, fault);
        Rig rig;
        const std::string before = rig.applications();
        std::vector<testing::ArchiveEntry> entries = testing::bundleEntries("q", "1.1");
        kFaults[fault].make(rig, entries);
        if (!(entries == testing::bundleEntries("q", "1.1")))
            rig.publish(entries);
        const std::optional<std::string> failure = rig.install();
        QVERIFY(failure.has_value());
        QVERIFY2(failure->find(kFaults[fault].message) != std::string::npos, failure->c_str());
        QCOMPARE(rig.applications(), before);
        QCOMPARE(rig.ui.errors.size(), rig.ui.cancelled ? 0 : 1);
        QVERIFY(rig.relaunched.empty());
        QCOMPARE(rig.test.log.lines().back(), *failure);
    }
};

}  // namespace
}  // namespace quaymark

QTEST_GUILESS_MAIN(quaymark::UpdateInstallerTests)
#include "UpdateInstallerTests.moc"
