#include "app/custom_baud_dialog.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app/dialog_units.h"
#include "app/prompter.h"

namespace corvel::app {

CustomBaudDialog::CustomBaudDialog(Prompter& prompter, QWidget* parent) : QDialog(parent), prompter_(prompter) {
  setWindowTitle(QStringLiteral("Custom baudrate"));
  setFont(DialogFont(10));
  const DialogUnits units(font());
  setFixedSize(units.ToPixelsX(187), units.ToPixelsY(55));

  auto* label = new QLabel(QStringLiteral("Please input the custom baud rate:"), this);
  label->setGeometry(units.ToPixels(13, 11, 142, 8 + 2));
  edit_ = new QLineEdit(this);
  edit_->setObjectName(QString::number(kRateEdit));
  edit_->setGeometry(units.ToPixels(12, 22, 162, 12));
  auto* ok = new QPushButton(QStringLiteral("OK"), this);
  ok->setObjectName(QString::number(kOkButton));
  ok->setGeometry(units.ToPixels(35, 36, 50, 13));
  auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
  cancel->setObjectName(QString::number(kCancelButton));
  cancel->setGeometry(units.ToPixels(90, 36, 50, 13));
  // Enter in the edit takes what was typed, as OK does; dropping it would
  // leave the user with rate 0 and no word why.
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &CustomBaudDialog::OnOk);
  connect(cancel, &QPushButton::clicked, this, &CustomBaudDialog::OnCancel);
}

namespace {

// Decimal digits only, 1 .. 4294967295: anything else would open the port at
// a rate of 0 or of whatever digits lead the text.
bool IsRate(const QString& text) {
  if (text.isEmpty()) return false;
  for (const QChar c : text) {
    if (c < u'0' || c > u'9') return false;
  }
  bool fits = false;
  return text.toUInt(&fits) > 0 && fits;
}

}  // namespace

void CustomBaudDialog::OnOk() {
  const QString text = edit_->text().trimmed();
  if (!IsRate(text)) {
    prompter_.ShowMessage(this, QStringLiteral("please input a number!"));
    edit_->setFocus();
    edit_->selectAll();
    return;
  }
  enteredText_ = text;
  closingByButton_ = true;
  done(QDialog::Accepted);
}

void CustomBaudDialog::OnCancel() {
  prompter_.ShowMessage(this, QStringLiteral("It's none!"));
  closingByButton_ = true;
  done(QDialog::Rejected);
}

void CustomBaudDialog::closeEvent(QCloseEvent* event) {
  if (!closingByButton_) prompter_.ShowMessage(this, QStringLiteral("It's none!"));
  QDialog::closeEvent(event);
}

void CustomBaudDialog::keyPressEvent(QKeyEvent* event) {
  // Escape leaves without a message and without the text.
  if (event->key() == Qt::Key_Escape) {
    closingByButton_ = true;
    done(QDialog::Rejected);
    return;
  }
  QDialog::keyPressEvent(event);
}

}  // namespace corvel::app
