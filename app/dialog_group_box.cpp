#include "app/dialog_group_box.h"

#include <QPainter>
#include <QStyle>

namespace corvel::app {

DialogGroupBox::DialogGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

QRect DialogGroupBox::FrameRect() const { return rect().adjusted(0, fontMetrics().height() / 2, 0, 0); }

void DialogGroupBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  // An etched line: shadow, with a light line one pixel inside and below it.
  const QRect frame = FrameRect();
  painter.setPen(palette().color(QPalette::Mid));
  painter.drawRect(frame.adjusted(0, 0, -2, -2));
  painter.setPen(palette().color(QPalette::Light));
  painter.drawRect(frame.adjusted(1, 1, -1, -1));

  // The caption sits on the line with a little space either side of it.
  const QFontMetrics metrics = fontMetrics();
  const int gap = metrics.averageCharWidth() / 2 + 1;
  const int indent = metrics.averageCharWidth();
  QRect caption(indent + gap, 0, metrics.horizontalAdvance(title()), metrics.height());
  caption = caption.intersected(rect().adjusted(gap, 0, -gap, 0));
  painter.fillRect(caption.adjusted(-gap, 0, gap, 0), palette().brush(backgroundRole()));
  style()->drawItemText(&painter, caption, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextShowMnemonic, palette(),
                        isEnabled(), title(), QPalette::WindowText);
}

}  // namespace corvel::app
