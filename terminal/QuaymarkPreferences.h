// The preferences domain both programs share, its keys and the fixed fallbacks.
#pragma once

namespace quaymark {

// The main program's bundle identifier; the toolbar button program names it explicitly.
inline constexpr const char* kPreferencesDomain = "com.brindlewood.Quaymark";

namespace preference_key {
inline constexpr const char* kTerminalIdentifier = "Terminal Identifier";  // string
inline constexpr const char* kUseWindow = "Use Window";                    // boolean
inline constexpr const char* kTerminalCommand = "Terminal Command";        // string
inline constexpr const char* kLastLaunchDate = "Last Launch Date";         // date
}  // namespace preference_key

// The command template used when none is stored; "%PATH%" stands for the escaped folder.
inline constexpr const char* kDefaultCommandTemplate = "cd %PATH%; clear; pwd";

}  // namespace quaymark
