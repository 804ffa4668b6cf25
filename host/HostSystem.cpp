#include "HostSystem.h"

#include <unistd.h>

#include <cstdio>
#include <ctime>
#include <string_view>
#include <thread>

#include "posix/Posix.h"

namespace quaymark {

namespace {

std::string oneLine(std::string_view text) {
    std::string line;
    line.reserve(text.size());
    for (char c : text) {
        auto byte = static_cast<unsigned char>(c);
        if (c == '\n') {
            line += "\\n";
        } else if (c == '\t') {
            line += "\\t";
        } else if (c == '\r') {
            line += "\\r";
        } else if (byte < 0x20 || byte == 0x7f) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02x", byte);
            line += escaped;
        } else {
            line += c;
        }
    }
    return line;
}

}  // namespace

PlistDate SystemClock::now() {
    auto sinceEpoch = std::chrono::system_clock::now().time_since_epoch();
    return PlistDate::fromUnixSeconds(std::chrono::duration<double>(sinceEpoch).count());
}

void SystemClock::sleepFor(std::chrono::microseconds duration) {
    std::this_thread::sleep_for(duration);
}

void BasicRunLoop::post(std::function<void()> work) {
    {
        std::lock_guard lock(_mutex);
        _queue.push_back(std::move(work));
    }
    _changed.notify_all();
}

bool BasicRunLoop::runUntil(std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::unique_lock lock(_mutex);
    while (!_stopStatus) {
        if (_queue.empty()) {
            if (!deadline) {
                _changed.wait(lock);
            } else if (_changed.wait_until(lock, *deadline) == std::cv_status::timeout &&
                       _queue.empty()) {
                return false;
            }
            continue;
        }
        std::function<void()> work = std::move(_queue.front());
        _queue.pop_front();
        // Work may post more work or stop the loop.
        lock.unlock();
        work();
        lock.lock();
    }
    return true;
}

void BasicRunLoop::runFor(std::chrono::milliseconds duration) {
    runUntil(std::chrono::steady_clock::now() + duration);
}

bool BasicRunLoop::runOnce() {
    std::unique_lock lock(_mutex);
    _changed.wait(lock, [this] { return !_queue.empty(); });
    std::function<void()> work = std::move(_queue.front());
    _queue.pop_front();
    lock.unlock();
    work();
    return true;
}

int BasicRunLoop::run() {
    runUntil(std::nullopt);
    std::lock_guard lock(_mutex);
    int status = _stopStatus.value_or(0);
    _stopStatus.reset();
    return status;
}

void BasicRunLoop::stop(int exitStatus) {
    {
        std::lock_guard lock(_mutex);
        _stopStatus = exitStatus;
    }
    _changed.notify_all();
}

int RunLoopApplication::run(std::function<void()> didFinishLaunching) {
    if (didFinishLaunching)
        _runLoop.post(std::move(didFinishLaunching));
    return _runLoop.run();
}

void StderrLog::log(const std::string& message) {
    auto now = std::chrono::system_clock::now();
    std::time_t seconds = std::chrono::system_clock::to_time_t(now);
    auto milliseconds =
        std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() %
        1000;
    std::tm local{};
    localtime_r(&seconds, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[64];
    std::snprintf(prefix, sizeof prefix, "%s.%03lld ", stamp, static_cast<long long>(milliseconds));
    std::string line = prefix + oneLine(_processName) + "[" + std::to_string(getpid()) + "] " +
                       oneLine(message) + "\n";
    // One write, so that lines of processes sharing the stream do not interleave; a log that
    // cannot be written has nowhere to say so.
    writeAll(_fd, line);
}

}  // namespace quaymark
