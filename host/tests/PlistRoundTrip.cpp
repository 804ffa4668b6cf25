// Reads property-list files and writes each back, for plist_differential.py. Each line of
// standard input is a job, "xml|binary<TAB>in<TAB>out"; each gets a line on standard output:
// "written", "refused" (no property list we read) or "unwritable <the reason checkPlistEncodable
// gives>".
#include <fstream>
#include <iostream>
#include <string>

#include "plist/PlistCodec.h"

int main() {
    using namespace quaymark;
    std::string format, in, out;
    while (std::getline(std::cin, format, '\t') && std::getline(std::cin, in, '\t') &&
           std::getline(std::cin, out)) {
        PlistFormat to = format == "xml" ? PlistFormat::Xml : PlistFormat::Binary;
        std::optional<DecodedPlist> decoded = readPlistFile(in);
        const Result<void> encodable =
            decoded ? checkPlistEncodable(decoded->value, to) : Result<void>::success();
        if (decoded && encodable)
            std::ofstream(out, std::ios::binary) << encodePlist(decoded->value, to);
        std::cout << (!decoded     ? "refused"
                      : !encodable ? "unwritable " + encodable.error()
                                   : "written")
                  << '\n';
    }
    return 0;
}
