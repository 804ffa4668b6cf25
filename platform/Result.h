// The outcome of an operation that can fail without an exception: a value, or the one-line
// reason why there is none. Result<void> is the outcome of an operation that only succeeds
// or fails.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace quaymark {

template <typename T>
class Result {
public:
    static Result success(T value) {
        Result result;
        result._value = std::move(value);
        return result;
    }
    static Result failure(std::string reason) {
        Result result;
        result._error = std::move(reason);
        return result;
    }

    explicit operator bool() const { return _value.has_value(); }
    const T& value() const& { return *_value; }
    T& value() & { return *_value; }
    T&& value() && { return std::move(*_value); }
    const T* operator->() const { return &*_value; }
    T* operator->() { return &*_value; }
    // Empty when there is a value.
    const std::string& error() const { return _error; }

private:
    Result() = default;
    std::optional<T> _value;
    std::string _error;
};

template <>
class Result<void> {
public:
    static Result success() { return Result(); }
    static Result failure(std::string reason) {
        Result result;
        result._failed = true;
        result._error = std::move(reason);
        return result;
    }

    explicit operator bool() const { return !_failed; }
    // Empty on success.
    const std::string& error() const { return _error; }

private:
    Result() = default;
    bool _failed = false;
    std::string _error;
};

}  // namespace quaymark
