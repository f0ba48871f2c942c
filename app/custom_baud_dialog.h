// The custom baud rate dialog (template 137): one edit, OK and Cancel. OK
// takes only a positive whole number that fits in 32 bits, as its trimmed
// digits; anything else is refused with the dialog left open for a fix.
#pragma once

#include <QDialog>
#include <QString>

class QLineEdit;
class QPushButton;

namespace corvel::app {

class Prompter;

class CustomBaudDialog : public QDialog {
  Q_OBJECT
 public:
  CustomBaudDialog(Prompter& prompter, QWidget* parent = nullptr);

  // The controls' ids, which are also their objectNames.
  static constexpr int kRateEdit = 1038;
  static constexpr int kOkButton = 1060;
  static constexpr int kCancelButton = 1061;

  const QString& enteredText() const { return enteredText_; }

 protected:
  void closeEvent(QCloseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void OnOk();
  void OnCancel();

  Prompter& prompter_;
  QLineEdit* edit_ = nullptr;
  QString enteredText_;
  bool closingByButton_ = false;
};

}  // namespace corvel::app
