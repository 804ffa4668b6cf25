#include "UpdateCommand.h"

#include <QCoreApplication>
#include <QTimer>

#include "BundleInfo.h"

namespace quaymark {
namespace {

// The main bundle with another feed address.
class FeedOverride : public Bundle {
public:
    FeedOverride(Bundle& bundle, std::string feedUrl)
        : _bundle(bundle), _feedUrl(std::move(feedUrl)) {}
    std::string bundlePath() override { return _bundle.bundlePath(); }
    std::optional<std::string> pathForResource(const std::string& name,
                                               const std::string& type) override {
        return _bundle.pathForResource(name, type);
    }
    std::optional<PlistValue> objectForInfoDictionaryKey(const std::string& key) override {
        if (key == "SUFeedURL")
            return PlistValue(_feedUrl);
        return _bundle.objectForInfoDictionaryKey(key);
    }

private:
    Bundle& _bundle;
    std::string _feedUrl;
};

// Prints each verdict as its line and ends the event loop with the exit status.
class ConsoleUserInterface : public UpdateUserInterface {
public:
    ConsoleUserInterface(std::ostream& out, std::ostream& err) : _out(out), _err(err) {}
    void showCheckingProgress(std::function<void()>) override {}
    void closeCheckingProgress() override {}
    void showUpdateAvailable(const UpdateOffer& offer, std::function<void(UpdateChoice)>) override {
        if (offer.informational) {
            // Told as news: there is nothing to install, only the release's page to read.
            _out << "Quaymark " << offer.item.displayVersion << " has been announced (this is "
                 << offer.currentVersion << "); there is nothing to install";
            if (!offer.item.infoURL.empty())
                _out << ", see " << offer.item.infoURL;
            _out << ".\n";
        } else {
            _out << "Quaymark " << offer.item.displayVersion << " is available (this is "
                 << offer.currentVersion << ")"
                 << (offer.critical ? "; it is a critical update" : "") << ".\n";
        }
        QCoreApplication::exit(0);
    }
    void showUpToDate(const std::string& currentVersion) override {
        _out << "Quaymark " << currentVersion << " is up to date.\n";
        QCoreApplication::exit(0);
    }
    void showError(const std::string& message) override {
        _err << message << "\n";
        QCoreApplication::exit(1);
    }
    bool openUrl(const std::string&) override { return false; }

private:
    std::ostream& _out;
    std::ostream& _err;
};

// The console prints every verdict itself, failures included, and the updater's only log
// lines in a check without windows are those failures; logged too, each would show twice.
class SilentLog : public Log {
public:
    void log(const std::string&) override {}
};

}  // namespace

int printVersion(Bundle& mainBundle, std::ostream& out, std::ostream& err) {
    const std::optional<std::string> shown = infoString(mainBundle, "CFBundleShortVersionString");
    const std::optional<std::string> version = infoString(mainBundle, "CFBundleVersion");
    if (!shown && !version) {
        err << "Quaymark: the application names no version\n";
        return 1;
    }
    out << "Quaymark " << shown.value_or(*version);
    if (shown && version && *shown != *version)
        out << " (" << *version << ")";
    out << "\n";
    return 0;
}

int runUpdateCheck(Platform platform, const std::optional<std::string>& feedUrl, std::ostream& out,
                   std::ostream& err, FeedUpdaterOptions options) {
    std::optional<FeedOverride> bundle;
    if (feedUrl)
        bundle.emplace(platform.mainBundle, *feedUrl);
    SilentLog silent;
    const Platform checking =
        platform.withBundle(bundle ? static_cast<Bundle&>(*bundle) : platform.mainBundle)
            .withLog(silent);
    QNetworkAccessManager network;
    ConsoleUserInterface console(out, err);
    FeedUpdater updater(checking, network, console, std::move(options));
    // Asked from the loop, so that a verdict reached at once still finds the loop running.
    QTimer::singleShot(0, &updater, [&updater] { updater.checkForUpdates(); });
    return QCoreApplication::exec();
}

}  // namespace quaymark
