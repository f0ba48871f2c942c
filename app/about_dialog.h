// The about box (template 100).
#pragma once

#include <QDialog>

namespace corvel::app {

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
};

}  // namespace corvel::app
