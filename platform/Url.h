// URLs as the system passes them around: file URLs with percent escapes.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace quaymark {

class Url {
public:
    // Parses a URL string; nothing when the text is not a valid URL (characters
    // outside the URL set, a malformed percent escape, a malformed scheme).
    static std::optional<Url> fromString(std::string_view text);
    // The file URL of an absolute path: "file://" then the path with every byte outside
    // the path-safe ASCII set percent-encoded, and a closing "/" when `isDirectory`.
    static Url fileUrlWithPath(std::string_view path, bool isDirectory);

    const std::string& absoluteString() const { return _text; }
    // Lower-cased scheme, empty for a relative URL.
    const std::string& scheme() const { return _scheme; }
    bool isFileUrl() const { return _scheme == "file"; }
    // The host of the authority ("example.com", "::1" for "[::1]"), without user or port;
    // empty when the URL names none.
    const std::string& host() const { return _host; }
    // The path with percent escapes decoded and a trailing "/" removed (the root stays "/").
    std::string path() const;

    friend bool operator==(const Url& a, const Url& b) { return a._text == b._text; }

private:
    Url(std::string text, std::string scheme, std::string host, std::string encodedPath)
        : _text(std::move(text)),
          _scheme(std::move(scheme)),
          _host(std::move(host)),
          _encodedPath(std::move(encodedPath)) {}

    std::string _text;
    std::string _scheme;
    std::string _host;
    std::string _encodedPath;
};

std::string percentEncodePath(std::string_view path);
// Nothing when an escape is malformed.
std::optional<std::string> percentDecode(std::string_view text);

}  // namespace quaymark
