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
// The update channels besides the default one whose releases are offered ("beta").
inline constexpr const char* kUpdateChannels = "Update Channels";  // array of strings
// The release of the last "Remind Me Later", and when it was pressed.
inline constexpr const char* kUpdateReminderVersion = "Update Reminder Version";  // string
inline constexpr const char* kUpdateReminderDate = "Update Reminder Date";        // date
}  // namespace preference_key

// The command template used when none is stored; "%PATH%" stands for the escaped folder.
inline constexpr const char* kDefaultCommandTemplate = "cd %PATH%; clear; pwd";

}  // namespace quaymark
