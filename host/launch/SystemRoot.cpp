#include "launch/SystemRoot.h"

#include <unistd.h>

#include <array>
#include <cstdlib>

namespace quaymark {

namespace {

constexpr std::array<std::string_view, 5> kSystemPrefixes = {"/Applications", "/System", "/Library",
                                                             "/usr/X11R6", "/usr/bin/killall"};

bool hasPathPrefix(std::string_view path, std::string_view prefix) {
    return path.starts_with(prefix) && (path.size() == prefix.size() || path[prefix.size()] == '/');
}

}  // namespace

SystemRoot::SystemRoot(std::string root) : _root(std::move(root)) {
    while (_root.size() > 1 && _root.ends_with('/'))
        _root.pop_back();
    if (_root == "/")
        _root.clear();
}

SystemRoot SystemRoot::fromEnvironment() {
    const char* root = std::getenv("QUAYMARK_SYSTEM_ROOT");
    return SystemRoot(root ? root : "");
}

bool SystemRoot::isSystemPath(std::string_view path) {
    for (std::string_view prefix : kSystemPrefixes) {
        if (hasPathPrefix(path, prefix))
            return true;
    }
    return false;
}

std::string SystemRoot::map(std::string_view systemPath) const {
    if (_root.empty() || !isSystemPath(systemPath))
        return std::string(systemPath);
    return _root + std::string(systemPath);
}

std::string SystemRoot::runtimeDirectory() const {
    if (!_root.empty())
        return _root + "/private/var/run/quaymark";
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    if (runtime && *runtime)
        return std::string(runtime) + "/quaymark";
    return "/tmp/quaymark-" + std::to_string(getuid());
}

std::string SystemRoot::unmap(std::string_view realPath) const {
    if (_root.empty() || !hasPathPrefix(realPath, _root))
        return std::string(realPath);
    std::string_view inside = realPath.substr(_root.size());
    if (!isSystemPath(inside))
        return std::string(realPath);
    return std::string(inside);
}

}  // namespace quaymark
