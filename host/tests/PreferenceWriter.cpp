// A second process for the preference tests.
//   preference_writer <folder> <domain> <key prefix> <key count> <keys per sync> [<length>]
// sets numbered keys, synchronising as it goes: key <prefix><n> gets its own name, padded with
// dots to the length. With "try" in place of the prefix it sets one key, synchronises, and
// prints "<read failure>|<synchronisation failure>" ("-" for none), with this process's rights.
#include <cstdio>
#include <string>

#include "FilePreferences.h"
#include "HostSystem.h"

using namespace quaymark;

int main(int argc, char** argv) {
    StderrLog log("preference_writer");
    FilePreferences preferences(argv[1], log);
    const std::string domain = argv[2];
    if (argc == 4 && std::string(argv[3]) == "try") {
        std::optional<PreferencesFailure> read = preferences.readFailure(domain);
        preferences.setAppValue("tried", PlistValue("yes"), domain);
        std::optional<PreferencesFailure> written = preferences.synchronize(domain);
        std::printf("%s|%s\n", read ? read->reason.c_str() : "-",
                    written ? written->reason.c_str() : "-");
        return 0;
    }
    const long count = std::stol(argv[4]);
    const long keysPerSynchronization = std::stol(argv[5]);
    const std::size_t length = argc == 7 ? std::stoul(argv[6]) : 0;
    for (long n = 0; count == 0 || n < count; ++n) {
        std::string key = argv[3] + std::to_string(n);
        std::string value = key;
        if (value.size() < length)
            value.resize(length, '.');
        preferences.setAppValue(key, PlistValue(value), domain);
        if ((n + 1) % keysPerSynchronization != 0 && n + 1 != count)
            continue;
        if (auto failure = preferences.synchronize(domain)) {
            std::fprintf(stderr, "after %s: %s\n", key.c_str(), failure->message().c_str());
            return 1;
        }
    }
    return 0;
}
