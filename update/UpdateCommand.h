// The update commands of the main program: its version, and a check for updates without
// windows.
#pragma once

#include <QNetworkAccessManager>
#include <optional>
#include <ostream>
#include <string>

#include "FeedUpdater.h"

namespace quaymark {

// Prints the bundle's "CFBundleShortVersionString", followed by its "CFBundleVersion" in
// parentheses when that differs; 0, or 1 when the bundle names no version.
int printVersion(Bundle& mainBundle, std::ostream& out, std::ostream& err);

// Checks the feed once (`feedUrl` in place of the bundle's "SUFeedURL" when given) and prints
// one line: the newer version, a release announced for information only (nothing to install),
// that this one is the newest, or why there is no verdict. It decides as a check the user asked
// for, so it shows what the update window would offer.
// Needs a QCoreApplication and runs its event loop until the check ends. 0 on a verdict, 1
// otherwise.
int runUpdateCheck(Platform platform, const std::optional<std::string>& feedUrl, std::ostream& out,
                   std::ostream& err, FeedUpdaterOptions options = {});

}  // namespace quaymark
