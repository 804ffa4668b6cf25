// One ordered record of every call the test doubles receive, shared by all of them, with
// the means to make any named call fail.
#pragma once

#include <algorithm>
#include <map>
#include <stdexcept>
#include <string>
#include <vector>

#include "PlatformException.h"

namespace quaymark {

enum class InjectedFailure {
    Platform,      // PlatformException, as the platform raises
    RuntimeError,  // std::runtime_error: a failure that is not the platform's
    LogicError,    // std::logic_error: a bug somewhere below the caller
};

class CallLog {
public:
    // Appends "<call>" or "<call> <detail>" and then raises when a failure is set for
    // `call`, so a failed call still shows in the log as the last thing attempted.
    void record(const std::string& call, const std::string& detail = {}) {
        _entries.push_back(detail.empty() ? call : call + " " + detail);
        auto failure = _failures.find(call);
        if (failure == _failures.end())
            return;
        switch (failure->second) {
            case InjectedFailure::Platform:
                throw PlatformException("InjectedFailure", call + " failed");
            case InjectedFailure::RuntimeError:
                throw std::runtime_error(call + " failed");
            case InjectedFailure::LogicError:
                throw std::logic_error(call + " failed");
        }
    }
    // Every later call named `call` (such as "Terminal.doScript") raises `failure`.
    void failOn(const std::string& call, InjectedFailure failure) { _failures[call] = failure; }

    const std::vector<std::string>& entries() const { return _entries; }
    // The entries that start with one of the prefixes ("Terminal.", "sleep").
    std::vector<std::string> matching(const std::vector<std::string>& prefixes) const {
        std::vector<std::string> result;
        for (const std::string& entry : _entries) {
            if (std::any_of(prefixes.begin(), prefixes.end(),
                            [&](const std::string& p) { return entry.starts_with(p); }))
                result.push_back(entry);
        }
        return result;
    }
    bool contains(const std::string& entry) const { return indexOf(entry) >= 0; }
    // Position of the first entry equal to `entry`, or -1 when there is none.
    int indexOf(const std::string& entry) const {
        auto it = std::find(_entries.begin(), _entries.end(), entry);
        return it == _entries.end() ? -1 : static_cast<int>(it - _entries.begin());
    }
    void clear() { _entries.clear(); }

private:
    std::vector<std::string> _entries;
    std::map<std::string, InjectedFailure> _failures;
};

}  // namespace quaymark
