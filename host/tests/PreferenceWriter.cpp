// A second process for the preference tests: sets numbered keys in one domain, synchronising
// as it goes. Key <prefix><n> gets its own name as its value, padded with dots to the length.
//   preference_writer <folder> <domain> <key prefix> <key count, 0 for no end>
//                     <keys per synchronisation> [<value length>]
#include <cstdio>
#include <string>

#include "HostSystem.h"
#include "preferences/FilePreferences.h"

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7)
        return 2;
    quaymark::StderrLog log("preference_writer");
    quaymark::FilePreferences preferences(argv[1], log);
    const long count = std::stol(argv[4]);
    const long keysPerSynchronization = std::stol(argv[5]);
    const std::size_t length = argc == 7 ? std::stoul(argv[6]) : 0;
    for (long n = 0; count == 0 || n < count; ++n) {
        std::string key = argv[3] + std::to_string(n);
        std::string value = key;
        value.resize(std::max(length, value.size()), '.');
        preferences.setAppValue(key, quaymark::PlistValue(value), argv[2]);
        if ((n + 1) % keysPerSynchronization != 0 && n + 1 != count)
            continue;
        if (auto failure = preferences.synchronize(argv[2])) {
            std::fprintf(stderr, "after %s: %s\n", key.c_str(), failure->message().c_str());
            return 1;
        }
    }
    return 0;
}
