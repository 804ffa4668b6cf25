// Alerts that are recorded instead of shown, answered with a button the test chooses.
#pragma once

#include <vector>

#include "Alert.h"
#include "CallLog.h"

namespace quaymark {

class RecordingAlert : public Alert {
public:
    explicit RecordingAlert(CallLog& calls) : _calls(calls) {}

    // Records "Alert.runModal <message text>", keeps the texts, answers the chosen button.
    int runModal(const AlertText& text) override {
        _calls.record("Alert.runModal", text.messageText);
        _shown.push_back(text);
        return _answer;
    }

    const std::vector<AlertText>& shown() const { return _shown; }
    void setAnswer(int buttonIndex) { _answer = buttonIndex; }

private:
    CallLog& _calls;
    std::vector<AlertText> _shown;
    int _answer = 0;
};

}  // namespace quaymark
