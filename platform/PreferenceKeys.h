#pragma once

// Every key Kelvo keeps in its preference store, with its type and what reading it gives when nothing (or a
// value of another type) is stored. The owners read their keys; nothing else does.
//
// | key                   | type | when absent | owner         |
// |-----------------------|------|-------------|---------------|
// | sensiboAPIKey         | text | empty text  | SensiboService (stored by saveApiKey on Save & Connect) |
// | useMonochromeIcons    | Bool | false       | SensiboService (written by the settings window) |
// | autoCheckForUpdates   | Bool | true        | UpdateService  (written by the settings window) |
// | hasLaunchedBefore     | Bool | false       | UpdateService  |
// | lastUpdateCheckDate   | date | none        | UpdateService  |
// | lastUpdateText        | text | none        | UpdateService  |
namespace PreferenceKeys {
inline constexpr char sensiboAPIKey[] = "sensiboAPIKey";
inline constexpr char useMonochromeIcons[] = "useMonochromeIcons";
inline constexpr char autoCheckForUpdates[] = "autoCheckForUpdates";
inline constexpr char hasLaunchedBefore[] = "hasLaunchedBefore";
inline constexpr char lastUpdateCheckDate[] = "lastUpdateCheckDate";
inline constexpr char lastUpdateText[] = "lastUpdateText";
} // namespace PreferenceKeys
