// One ordered record of every call the test doubles receive, shared by all of them, with
// the means to make any named call fail.
#pragma once

#include <map>
#include <string>
#include <vector>

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
    void record(const std::string& call, const std::string& detail = {});

    // Every later call named `call` (such as "Terminal.doScript") raises `failure`.
    void failOn(const std::string& call, InjectedFailure failure);
    void clearFailures() { _failures.clear(); }

    const std::vector<std::string>& entries() const { return _entries; }
    // The entries whose call name starts with one of the prefixes ("Terminal.", "sleep").
    std::vector<std::string> matching(const std::vector<std::string>& prefixes) const;
    bool contains(const std::string& entry) const;
    // Position of the first entry equal to `entry`, or -1 when there is none.
    int indexOf(const std::string& entry) const;
    void clear() { _entries.clear(); }

private:
    std::vector<std::string> _entries;
    std::map<std::string, InjectedFailure> _failures;
};

}  // namespace quaymark
