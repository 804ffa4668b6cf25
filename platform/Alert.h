// Modal alerts: the one way the system speaks to the user outside its windows.
#pragma once

#include <string>
#include <vector>

namespace quaymark {

struct AlertText {
    std::string messageText;
    std::string informativeText;
    // Button titles, the default button first.
    std::vector<std::string> buttons;
};

class Alert {
public:
    virtual ~Alert() = default;
    // Shows the alert and returns once one of its buttons is pressed: that button's index.
    // Returns 0 when the alert could not be shown at all (no display).
    virtual int runModal(const AlertText& text) = 0;
};

}  // namespace quaymark
