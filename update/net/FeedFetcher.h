// The feed and release notes are fetched into memory by the one download class.
#pragma once

#include "Downloader.h"

namespace quaymark {

using FeedFetcher = Downloader;
using FetchLimits = DownloadLimits;

}  // namespace quaymark
