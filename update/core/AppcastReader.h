// Reading an update feed: RSS 2.0 items carrying the update framework's release details.
#pragma once

#include <QByteArray>

#include "Result.h"
#include "Updater.h"

namespace quaymark {

// The namespace of the update framework's elements and attributes; a feed may bind it to any
// prefix, and the "sparkle" prefix means nothing unless it is bound to this URI.
inline constexpr const char* kSparkleNamespace =
    "http://www.andymatuschak.org/xml-namespaces/sparkle";

// The system this program runs as, under the name feeds give it in `sparkle:os`.
inline constexpr const char* kThisSystem = "macos";

// The feed's title and its items in feed order. Items without a version are left out, as
// nothing could be compared with them, and so are items with neither an archive nor a page.
// Of several enclosures the one for this system is the item's. Fails, with one line naming the
// cause, when the text is empty, is not well-formed XML, or is not an RSS document with a channel.
Result<SUAppcast> readAppcast(const QByteArray& xml);

}  // namespace quaymark
