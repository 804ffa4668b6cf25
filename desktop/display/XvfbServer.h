// A virtual X display of our own: an Xvfb server started by pid on a display number it picks.
#pragma once

#include <string>

#include "Result.h"

namespace quaymark {

struct StartedXvfb {
    int pid = -1;
    std::string display;  // ":N"
};

class XvfbServer {
public:
    static constexpr const char* kProgram = "/usr/bin/Xvfb";

    static bool isInstalled();
    // Starts a detached Xvfb that outlives the caller and waits until it takes clients; the
    // reason when it did not start or did not get ready.
    static Result<StartedXvfb> start();
};

}  // namespace quaymark
