// The message box as every part of the program shows it: its icon flags and
// the title of an error box, shared so that app, qr and save agree.
#pragma once

#include <string_view>

namespace msgbox {

inline constexpr int kStopIcon = 16;         // every error box
inline constexpr int kInformationIcon = 64;  // the completion box of a save
inline constexpr std::string_view kErrorTitle = "错误";

}  // namespace msgbox
