// A group box as the dialog framework draws one: the frame line runs through
// the middle of the caption, which interrupts it near the left corner. The
// controls of a group are its siblings, placed inside the frame.
#pragma once

#include <QGroupBox>

namespace corvel::app {

class DialogGroupBox : public QGroupBox {
  Q_OBJECT
 public:
  DialogGroupBox(const QString& title, QWidget* parent);

  // The frame's outer edge in the box's own coordinates. The etched line is
  // two pixels wide: a control lies inside the frame when it lies inside this
  // less two pixels all round.
  QRect FrameRect() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
};

}  // namespace corvel::app
