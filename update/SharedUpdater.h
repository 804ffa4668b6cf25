// The update framework's one updater per process.
#pragma once

#include "Platform.h"
#include "Updater.h"

namespace quaymark {

// The process's one updater, made by the first call with that call's services; later calls
// get the same object whatever they pass. Needs the QApplication to exist already; the
// updater lives on the main thread until the process ends.
SUUpdater& sharedUpdater(Platform platform);

}  // namespace quaymark
