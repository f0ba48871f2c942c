#include "app/dialog_group_box.h"

#include <QPainter>
#include <QStyle>
#include <QStyleOption>

namespace corvel::app {

DialogGroupBox::DialogGroupBox(const QString& title, QWidget* parent) : QGroupBox(title, parent) {}

QRect DialogGroupBox::FrameRect() const { return rect().adjusted(0, fontMetrics().height() / 2, 0, 0); }

void DialogGroupBox::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionFrame frame;
  frame.initFrom(this);
  frame.rect = FrameRect();
  frame.lineWidth = 1;
  frame.midLineWidth = 0;
  frame.features = QStyleOptionFrame::None;
  style()->drawPrimitive(QStyle::PE_FrameGroupBox, &frame, &painter, this);

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
