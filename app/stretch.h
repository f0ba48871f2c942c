// How a control of the dialog follows a window that is not its layout's size.
// Kept free of Qt: the control table that uses it is read by tests without Qt.
#pragma once

namespace corvel::app {

// What a control does when the window is larger or smaller than its layout:
// the log pane takes the room, the controls beside it and the extension area
// to its right move with the right edge.
enum class Stretch : unsigned {
  kNone = 0,
  kMoveX = 1,   // follows the right edge
  kGrowW = 2,   // widens with the window
  kGrowH = 4,   // heightens with the window
};
constexpr Stretch operator|(Stretch a, Stretch b) {
  return static_cast<Stretch>(static_cast<unsigned>(a) | static_cast<unsigned>(b));
}
constexpr bool Has(Stretch set, Stretch flag) { return (static_cast<unsigned>(set) & static_cast<unsigned>(flag)) != 0; }

}  // namespace corvel::app
