#include "PathUtilities.h"

namespace quaymark {

namespace {

std::string_view withoutTrailingSlashes(std::string_view path) {
    while (path.size() > 1 && path.ends_with('/'))
        path.remove_suffix(1);
    return path;
}

}  // namespace

std::string stringByDeletingLastPathComponent(std::string_view path) {
    path = withoutTrailingSlashes(path);
    if (path == "/")
        return "/";
    auto slash = path.rfind('/');
    if (slash == std::string_view::npos)
        return "";
    if (slash == 0)
        return "/";
    return std::string(withoutTrailingSlashes(path.substr(0, slash)));
}

std::string stringByAppendingPathComponent(std::string_view path, std::string_view component) {
    while (component.starts_with('/'))
        component.remove_prefix(1);
    while (component.ends_with('/'))
        component.remove_suffix(1);
    std::string result(withoutTrailingSlashes(path));
    if (component.empty())
        return result;
    if (!result.empty() && result != "/")
        result.push_back('/');
    result.append(component);
    return result;
}

std::string lastPathComponent(std::string_view path) {
    path = withoutTrailingSlashes(path);
    if (path == "/")
        return "/";
    auto slash = path.rfind('/');
    return std::string(slash == std::string_view::npos ? path : path.substr(slash + 1));
}

std::string stringByExpandingTildeInPath(std::string_view path, std::string_view home) {
    if (path == "~")
        return std::string(home);
    if (path.starts_with("~/")) {
        return stringByAppendingPathComponent(home, path.substr(2));
    }
    return std::string(path);
}

}  // namespace quaymark
