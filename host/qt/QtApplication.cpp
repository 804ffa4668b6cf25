#include "qt/QtApplication.h"

namespace quaymark {

int QtApplication::run(std::function<void()> didFinishLaunching) {
    if (didFinishLaunching)
        _runLoop.post(std::move(didFinishLaunching));
    return _runLoop.run();
}

}  // namespace quaymark
