// A log that keeps its lines for the test to read.
#pragma once

#include "CallLog.h"
#include "System.h"

namespace quaymark {

class RecordingLog : public Log {
public:
    explicit RecordingLog(CallLog& calls) : _calls(calls) {}

    void log(const std::string& message) override {
        _calls.record("Log", message);
        _lines.push_back(message);
    }
    const std::vector<std::string>& lines() const { return _lines; }

private:
    CallLog& _calls;
    std::vector<std::string> _lines;
};

}  // namespace quaymark
