#include "Scripting.h"

namespace quaymark {

std::string ObjectSpecifier::description() const {
    if (_steps.empty())
        return "application";
    std::string text;
    for (auto it = _steps.rbegin(); it != _steps.rend(); ++it) {
        if (!text.empty())
            text += " of ";
        text += *it;
    }
    return text;
}

namespace specifier {

std::string windowAtIndex(std::size_t index) {
    return "windows[" + std::to_string(index) + "]";
}

std::string newTerminal(std::size_t serial) {
    return "newTerminal#" + std::to_string(serial);
}

}  // namespace specifier

}  // namespace quaymark
