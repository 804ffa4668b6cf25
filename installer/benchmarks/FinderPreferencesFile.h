// A large Finder preference file for the benchmarks: the installer's and the codec's.
#pragma once

#include "plist/PlistCodec.h"

namespace quaymark {

// A Finder preference file as a long-used Mac has it, about 200 KB in `format`.
PlistDictionary finderPreferences(PlistFormat format);

}  // namespace quaymark
