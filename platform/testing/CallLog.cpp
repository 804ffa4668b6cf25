#include "CallLog.h"

#include <algorithm>
#include <stdexcept>

#include "PlatformException.h"

namespace quaymark {

void CallLog::record(const std::string& call, const std::string& detail) {
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

void CallLog::failOn(const std::string& call, InjectedFailure failure) {
    _failures[call] = failure;
}

std::vector<std::string> CallLog::matching(const std::vector<std::string>& prefixes) const {
    std::vector<std::string> result;
    for (const std::string& entry : _entries) {
        bool wanted = std::any_of(prefixes.begin(), prefixes.end(),
                                  [&](const std::string& p) { return entry.starts_with(p); });
        if (wanted)
            result.push_back(entry);
    }
    return result;
}

bool CallLog::contains(const std::string& entry) const {
    return indexOf(entry) >= 0;
}

int CallLog::indexOf(const std::string& entry) const {
    auto it = std::find(_entries.begin(), _entries.end(), entry);
    return it == _entries.end() ? -1 : static_cast<int>(it - _entries.begin());
}

}  // namespace quaymark
