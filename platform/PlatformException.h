// The one exception type for failures raised by platform services.
#pragma once

#include <stdexcept>
#include <string>

namespace quaymark {

// The core catches exactly these where it means to contain a platform failure;
// anything else (a logic error, std::bad_alloc) is deliberately let through.
class PlatformException : public std::runtime_error {
public:
    PlatformException(std::string name, const std::string& reason)
        : std::runtime_error(reason), _name(std::move(name)) {}

    // The kind of failure, such as "NSInvalidArgumentException".
    const std::string& name() const { return _name; }
    std::string reason() const { return what(); }
    // What a log line shows for this exception: "<name>: <reason>".
    std::string description() const { return _name + ": " + what(); }

private:
    std::string _name;
};

}  // namespace quaymark
