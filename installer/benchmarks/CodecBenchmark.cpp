// Times reading and writing the 200 KB Finder preference file in both formats: our codec
// beside libplist 2.2's. scripts/benchmark-codec adds Python's plistlib on the same files,
// which it asks this program to write with --write-files=<folder>.
#include <benchmark/benchmark.h>
#include <plist/plist.h>

#include <cstdlib>
#include <fstream>
#include <memory>
#include <string_view>

#include "FinderPreferencesFile.h"
#include "plist/PlistCodec.h"

namespace quaymark {
namespace {

// Argument 0: the binary file, 1: the XML file.
PlistFormat formatOf(const benchmark::State& state) {
    return state.range(0) == 0 ? PlistFormat::Binary : PlistFormat::Xml;
}

const std::string& fileBytes(PlistFormat format) {
    static const std::string binary =
        encodePlist(finderPreferences(PlistFormat::Binary), PlistFormat::Binary);
    static const std::string xml =
        encodePlist(finderPreferences(PlistFormat::Xml), PlistFormat::Xml);
    return format == PlistFormat::Binary ? binary : xml;
}

void ourRead(benchmark::State& state) {
    const std::string& bytes = fileBytes(formatOf(state));
    for (auto _ : state)
        benchmark::DoNotOptimize(decodePlist(bytes));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void ourWrite(benchmark::State& state) {
    PlistValue value = decodePlist(fileBytes(formatOf(state)))->value;
    for (auto _ : state)
        benchmark::DoNotOptimize(encodePlist(value, formatOf(state)));
}

using LibplistNode = std::unique_ptr<void, void (*)(plist_t)>;

LibplistNode libplistParse(const std::string& bytes) {
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    return LibplistNode(root, plist_free);
}

void libplistRead(benchmark::State& state) {
    const std::string& bytes = fileBytes(formatOf(state));
    for (auto _ : state)
        benchmark::DoNotOptimize(libplistParse(bytes));
    state.SetBytesProcessed(state.iterations() * static_cast<std::int64_t>(bytes.size()));
}

void libplistWrite(benchmark::State& state) {
    LibplistNode root = libplistParse(fileBytes(formatOf(state)));
    for (auto _ : state) {
        char* bytes = nullptr;
        std::uint32_t length = 0;
        if (formatOf(state) == PlistFormat::Binary)
            plist_to_bin(root.get(), &bytes, &length);
        else
            plist_to_xml(root.get(), &bytes, &length);
        benchmark::DoNotOptimize(bytes);
        std::free(bytes);
    }
}

BENCHMARK(ourRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(libplistRead)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(ourWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);
BENCHMARK(libplistWrite)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace quaymark

int main(int argc, char** argv) {
    constexpr std::string_view kWriteFiles = "--write-files=";
    if (argc == 2 && std::string_view(argv[1]).starts_with(kWriteFiles)) {
        std::string folder(argv[1] + kWriteFiles.size());
        using quaymark::PlistFormat;
        std::ofstream(folder + "/finder-binary.plist", std::ios::binary)
            << quaymark::fileBytes(PlistFormat::Binary);
        std::ofstream(folder + "/finder-xml.plist", std::ios::binary)
            << quaymark::fileBytes(PlistFormat::Xml);
        return 0;
    }
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
