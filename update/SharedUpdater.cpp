#include "SharedUpdater.h"

#include <QCoreApplication>
#include <QNetworkAccessManager>
#include <QThread>

#include "FeedUpdater.h"
#include "QtUpdateUserInterface.h"
#include "UpdateInstaller.h"

namespace quaymark {

SUUpdater& sharedUpdater(Platform platform) {
    // Made once and never freed, like the other objects that live as long as the process;
    // the network manager and the windows are the updater's for all that time.
    static FeedUpdater* const updater = [platform] {
        Q_ASSERT(QCoreApplication::instance() != nullptr);
        Q_ASSERT(QThread::currentThread() == QCoreApplication::instance()->thread());
        auto* network = new QNetworkAccessManager;
        auto* windows = new QtUpdateUserInterface;
        auto* installer = new UpdateInstaller(platform, *network, *windows);
        FeedUpdaterOptions options;
        options.install = [installer](const SUAppcastItem& item) { installer->install(item); };
        return new FeedUpdater(platform, *network, *windows, std::move(options));
    }();
    return *updater;
}

}  // namespace quaymark
