// Dialog units to pixels, as the Windows dialog manager converts them: a
// horizontal unit is a quarter of the font's average character width, a
// vertical unit an eighth of its character height.
#pragma once

#include <QFont>
#include <QRect>

namespace corvel::app {

class DialogUnits {
 public:
  explicit DialogUnits(const QFont& font);
  DialogUnits(int baseX, int baseY) : baseX_(baseX), baseY_(baseY) {}

  int ToPixelsX(int dlu) const { return (dlu * baseX_ + 2) / 4; }
  int ToPixelsY(int dlu) const { return (dlu * baseY_ + 4) / 8; }
  QRect ToPixels(int x, int y, int w, int h) const {
    return QRect(ToPixelsX(x), ToPixelsY(y), ToPixelsX(w), ToPixelsY(h));
  }

  int baseX() const { return baseX_; }
  int baseY() const { return baseY_; }

 private:
  int baseX_ = 0;
  int baseY_ = 0;
};

// The dialog font: "宋体" 9 point, which maps to the installed CJK font.
QFont DialogFont(int pointSize);

}  // namespace corvel::app
