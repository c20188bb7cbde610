// Who made the program and where to find it, as the about box shows it.
#pragma once

namespace varnox {

constexpr char kProductWebAddress[] = "https://www.example.org/varnox";
constexpr char kMakerMailAddress[] = "varnox@example.org";
constexpr char kMakerName[] = "Kestrove";
constexpr char kProductDisplayName[] = "Varnox";
constexpr char kProductDescription[] = "Rule-based spam filter for your mail and text messages";
constexpr char kProductVersion[] = VARNOX_VERSION;  // the project's version, from CMake
constexpr char kCopyrightYear[] = "\xC2\xA9 2026";

}  // namespace varnox
