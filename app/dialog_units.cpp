#include "app/dialog_units.h"

#include <QFontMetrics>
#include <QStringList>

#include "app/control_table.h"

namespace corvel::app {

DialogUnits::DialogUnits(const QFont& font) {
  const QFontMetrics metrics(font);
  // The average width over the 52 Latin letters, rounded, as Windows takes it.
  const int letters = metrics.horizontalAdvance(QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
  baseX_ = (letters / 26 + 1) / 2;
  baseY_ = metrics.height();
}

QFont DialogFont(int pointSize) {
  static const bool substituted = [] {
    QStringList families;
    families << QStringLiteral("Noto Sans CJK SC") << QStringLiteral("WenQuanYi Micro Hei");
    QFont::insertSubstitutions(QString::fromUtf8(kDialogFontFamily), families);
    return true;
  }();
  (void)substituted;
  QFont font(QString::fromUtf8(kDialogFontFamily), pointSize);
  return font;
}

}  // namespace corvel::app
