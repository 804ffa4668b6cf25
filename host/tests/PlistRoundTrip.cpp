// Reads property-list files and writes each back, for plist_differential.py. Each line of
// standard input is a job, "xml|binary<TAB>in<TAB>out"; each gets a line on standard output:
// "written", "refused" (no property list we read) or "unwritable <plistEncodingProblem>".
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
        std::optional<std::string> problem;
        if (decoded && !(problem = plistEncodingProblem(decoded->value, to)))
            std::ofstream(out, std::ios::binary) << encodePlist(decoded->value, to);
        std::cout << (!decoded  ? "refused"
                      : problem ? "unwritable " + *problem
                                : "written")
                  << '\n';
    }
    return 0;
}
