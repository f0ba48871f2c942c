#include "app/prompter.h"

#include <QFileDialog>
#include <QMessageBox>

#include "app/custom_baud_dialog.h"
#include "config/desktop_open.h"

namespace corvel::app {

void WidgetPrompter::ShowMessage(QWidget* parent, const QString& text, const QString& title) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok, parent);
  box.exec();
}

QString WidgetPrompter::AskOpenFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter) {
  QFileDialog dialog(parent);
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setAcceptMode(QFileDialog::AcceptOpen);
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.setNameFilter(filter);
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
  return dialog.selectedFiles().first();
}

QString WidgetPrompter::AskCustomBaudRate(QWidget* parent) {
  CustomBaudDialog dialog(*this, parent);
  dialog.exec();
  return dialog.enteredText();
}

}  // namespace corvel::app

namespace corvel::app {

bool WidgetPrompter::AskConfirm(QWidget* parent, const QString& text, const QString& title) {
  QMessageBox box(QMessageBox::Warning, title, text, QMessageBox::Ok | QMessageBox::Cancel, parent);
  return box.exec() == QMessageBox::Ok;
}

Result<void> WidgetPrompter::OpenInEditor(const QString& path) {
  return config::OpenWithDesktop(path.toStdString());
}

}  // namespace corvel::app
