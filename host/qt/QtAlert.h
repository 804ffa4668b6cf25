// Modal alerts as Qt message boxes.
#pragma once

#include "Alert.h"

namespace quaymark {

class QtAlert : public Alert {
public:
    // A message box titled with the application's display name, its buttons left to right in
    // the order given, the first the default; 0 without a QApplication to show it in.
    int runModal(const AlertText& text) override;
};

}  // namespace quaymark
