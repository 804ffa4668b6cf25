// A second process for the preference tests: sets numbered keys in one domain, synchronising
// as it goes.
//   preference_writer <folder> <domain> <key prefix> <key count, 0 for no end>
//                     <keys per synchronisation> [<value length>]
// Key <prefix><n> gets the value the tests expect of it: its own name, padded with dots to the
// value length.
#include <cstdio>
#include <string>

#include "FilePreferences.h"

int main(int argc, char** argv) {
    if (argc != 6 && argc != 7) {
        std::fprintf(stderr, "usage: %s folder domain prefix count keys-per-sync [length]\n",
                     argv[0]);
        return 2;
    }
    quaymark::FilePreferences preferences(argv[1]);
    const std::string domain = argv[2];
    const std::string prefix = argv[3];
    const long count = std::stol(argv[4]);
    const long keysPerSynchronization = std::stol(argv[5]);
    const std::size_t length = argc == 7 ? std::stoul(argv[6]) : 0;
    for (long n = 0; count == 0 || n < count; ++n) {
        std::string key = prefix + std::to_string(n);
        std::string value = key;
        if (value.size() < length)
            value.resize(length, '.');
        preferences.setAppValue(key, quaymark::PlistValue(value), domain);
        if ((n + 1) % keysPerSynchronization != 0 && n + 1 != count)
            continue;
        if (!preferences.appSynchronize(domain)) {
            std::fprintf(stderr, "synchronising failed after %s\n", key.c_str());
            return 1;
        }
    }
    return 0;
}
