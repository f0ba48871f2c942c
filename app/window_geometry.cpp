#include "app/window_geometry.h"

#include <algorithm>

namespace corvel::app {

QRect Stretched(const QRect& base, Stretch stretch, int dw, int dh) {
  QRect rect = base;
  if (Has(stretch, Stretch::kMoveX)) rect.translate(dw, 0);
  if (Has(stretch, Stretch::kGrowW)) rect.setWidth(std::max(0, base.width() + dw));
  if (Has(stretch, Stretch::kGrowH)) rect.setHeight(std::max(0, base.height() + dh));
  return rect;
}

namespace {

QSize Room(const QRect& available, const QMargins& frame) {
  return {std::max(1, available.width() - frame.left() - frame.right()),
          std::max(1, available.height() - frame.top() - frame.bottom())};
}

}  // namespace

QRect CentredWithin(const QSize& wanted, const QRect& available, const QMargins& frame) {
  const QSize size = wanted.boundedTo(Room(available, frame));
  const int outerWidth = size.width() + frame.left() + frame.right();
  const int outerHeight = size.height() + frame.top() + frame.bottom();
  const int left = available.left() + (available.width() - outerWidth) / 2 + frame.left();
  const int top = available.top() + (available.height() - outerHeight) / 2 + frame.top();
  return {QPoint(left, top), size};
}

QRect KeptWithin(const QRect& client, const QRect& available, const QMargins& frame) {
  QRect rect(client.topLeft(), client.size().boundedTo(Room(available, frame)));
  const QRect outer = rect.marginsAdded(frame);
  int dx = 0;
  int dy = 0;
  if (outer.right() > available.right()) dx = available.right() - outer.right();
  if (outer.left() + dx < available.left()) dx = available.left() - outer.left();
  if (outer.bottom() > available.bottom()) dy = available.bottom() - outer.bottom();
  if (outer.top() + dy < available.top()) dy = available.top() - outer.top();
  return rect.translated(dx, dy);
}

}  // namespace corvel::app
