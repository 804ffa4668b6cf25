// Alerts that are recorded instead of shown, each answered with its first button.
#pragma once

#include <vector>

#include "Alert.h"
#include "CallLog.h"

namespace quaymark {

class RecordingAlert : public Alert {
public:
    explicit RecordingAlert(CallLog& calls) : _calls(calls) {}

    // Records "Alert.runModal <message text>" and keeps the texts.
    int runModal(const AlertText& text) override {
        _calls.record("Alert.runModal", text.messageText);
        _shown.push_back(text);
        return 0;
    }

    const std::vector<AlertText>& shown() const { return _shown; }

private:
    CallLog& _calls;
    std::vector<AlertText> _shown;
};

}  // namespace quaymark
