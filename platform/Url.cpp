#include "Url.h"

#include <algorithm>
#include <cctype>

namespace quaymark {

namespace {

bool isUnreserved(unsigned char c) {
    return std::isalnum(c) || c == '-' || c == '.' || c == '_' || c == '~';
}

bool isSubDelimiter(unsigned char c) {
    return c == '!' || c == '$' || c == '&' || c == '\'' || c == '(' || c == ')' || c == '*' ||
           c == '+' || c == ',' || c == ';' || c == '=';
}

// Characters a URL may hold literally (RFC 3986 reserved and unreserved) besides "%".
bool isUrlCharacter(unsigned char c) {
    return isUnreserved(c) || isSubDelimiter(c) || c == ':' || c == '/' || c == '?' || c == '#' ||
           c == '[' || c == ']' || c == '@';
}

int hexValue(unsigned char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The host of "user:password@host:port", without the brackets of an IPv6 literal and with
// its escapes decoded.
std::string hostOfAuthority(std::string_view authority) {
    auto at = authority.rfind('@');
    if (at != std::string_view::npos)
        authority.remove_prefix(at + 1);
    std::string_view host;
    if (authority.starts_with('[')) {
        auto close = authority.find(']');
        host =
            close == std::string_view::npos ? authority.substr(1) : authority.substr(1, close - 1);
    } else {
        host = authority.substr(0, authority.find(':'));
    }
    return percentDecode(host).value_or(std::string(host));
}

}  // namespace

std::string percentEncodePath(std::string_view path) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    encoded.reserve(path.size());
    for (unsigned char c : path) {
        // The path-safe set of a file URL: unreserved, sub-delimiters, ":", "@" and "/".
        if (isUnreserved(c) || isSubDelimiter(c) || c == ':' || c == '@' || c == '/') {
            encoded.push_back(static_cast<char>(c));
        } else {
            encoded.push_back('%');
            encoded.push_back(kHex[c >> 4]);
            encoded.push_back(kHex[c & 0xF]);
        }
    }
    return encoded;
}

std::optional<std::string> percentDecode(std::string_view text) {
    std::string decoded;
    decoded.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '%') {
            decoded.push_back(text[i]);
            continue;
        }
        if (i + 2 >= text.size())
            return std::nullopt;
        int high = hexValue(static_cast<unsigned char>(text[i + 1]));
        int low = hexValue(static_cast<unsigned char>(text[i + 2]));
        if (high < 0 || low < 0)
            return std::nullopt;
        decoded.push_back(static_cast<char>(high * 16 + low));
        i += 2;
    }
    return decoded;
}

std::optional<Url> Url::fromString(std::string_view text) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '%') {
            if (i + 2 >= text.size() || hexValue(static_cast<unsigned char>(text[i + 1])) < 0 ||
                hexValue(static_cast<unsigned char>(text[i + 2])) < 0) {
                return std::nullopt;
            }
        } else if (!isUrlCharacter(c)) {
            return std::nullopt;
        }
    }

    std::string scheme;
    std::string_view rest = text;
    auto colon = text.find(':');
    auto firstDelimiter = text.find_first_of("/?#");
    if (colon != std::string_view::npos && colon < firstDelimiter) {
        std::string_view candidate = text.substr(0, colon);
        bool valid = !candidate.empty() && std::isalpha(static_cast<unsigned char>(candidate[0])) &&
                     std::all_of(candidate.begin(), candidate.end(), [](unsigned char c) {
                         return std::isalnum(c) || c == '+' || c == '-' || c == '.';
                     });
        if (!valid)
            return std::nullopt;
        scheme.assign(candidate);
        std::transform(scheme.begin(), scheme.end(), scheme.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        rest = text.substr(colon + 1);
    }

    // The path runs from after the authority to the query or fragment.
    std::string host;
    if (rest.starts_with("//")) {
        auto pathStart = rest.find_first_of("/?#", 2);
        std::string_view authority = rest.substr(
            2, pathStart == std::string_view::npos ? std::string_view::npos : pathStart - 2);
        host = hostOfAuthority(authority);
        rest = pathStart == std::string_view::npos ? std::string_view() : rest.substr(pathStart);
    }
    std::string_view encodedPath = rest.substr(0, rest.find_first_of("?#"));
    return Url(std::string(text), std::move(scheme), std::move(host), std::string(encodedPath));
}

Url Url::fileUrlWithPath(std::string_view path, bool isDirectory) {
    std::string encoded = percentEncodePath(path);
    if (isDirectory && !encoded.ends_with('/'))
        encoded.push_back('/');
    return Url("file://" + encoded, "file", "", encoded);
}

std::string Url::path() const {
    // fromString has already checked every escape.
    std::string decoded = percentDecode(_encodedPath).value_or(_encodedPath);
    while (decoded.size() > 1 && decoded.ends_with('/'))
        decoded.pop_back();
    return decoded;
}

}  // namespace quaymark
