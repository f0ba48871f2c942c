// Everything that asks the user in a modal box goes through here, so tests
// can answer instead of a person: message boxes, the open-file dialog and the
// custom baud rate dialog.
#pragma once

#include <QString>

#include "base/result.h"

class QWidget;

namespace corvel::app {

// The title of the application's own message boxes, and of the port's
// configuration error box.
inline constexpr const char* kMessageTitle = "Pellamy";
inline constexpr const char* kPortErrorTitle = "Application Error";

// What the open-file dialog offers for each kind of file the window reads.
// Linux file names are case-sensitive: the filters name both spellings.
struct OpenFileKind {
  const char* defaultSuffix;
  const char* filter;
};
inline constexpr OpenFileKind kHexFiles = {"HEX", "Register Config Files (*.HEX *.hex);;All Files (*)"};
inline constexpr OpenFileKind kConfigFiles = {"CFG", "Register Config Files (*.CFG *.cfg);;All Files (*)"};

class Prompter {
 public:
  virtual ~Prompter() = default;
  // A box with an OK button and an exclamation icon; returns when it is closed.
  virtual void ShowMessage(QWidget* parent, const QString& text, const QString& title) = 0;
  // A full path, or an empty text when the user cancelled. `filter` is in
  // Qt's form ("Label (*.HEX *.hex);;All Files (*)").
  virtual QString AskOpenFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter) = 0;
  // The text the custom baud rate dialog gave; empty when none.
  virtual QString AskCustomBaudRate(QWidget* parent) = 0;
  // A question with OK and Cancel and a warning icon; true only for OK.
  virtual bool AskConfirm(QWidget* parent, const QString& text, const QString& title) = 0;
  // Shows a written file in the user's editor; returns at once.
  virtual Result<void> OpenInEditor(const QString& path) = 0;

  void ShowMessage(QWidget* parent, const QString& text) {
    ShowMessage(parent, text, QString::fromUtf8(kMessageTitle));
  }
  QString AskOpenFile(QWidget* parent, const OpenFileKind& kind) {
    return AskOpenFileName(parent, QString::fromUtf8(kind.defaultSuffix), QString::fromUtf8(kind.filter));
  }
};

// The real boxes.
class WidgetPrompter : public Prompter {
 public:
  using Prompter::ShowMessage;
  void ShowMessage(QWidget* parent, const QString& text, const QString& title) override;
  QString AskOpenFileName(QWidget* parent, const QString& defaultSuffix, const QString& filter) override;
  QString AskCustomBaudRate(QWidget* parent) override;
  bool AskConfirm(QWidget* parent, const QString& text, const QString& title) override;
  Result<void> OpenInEditor(const QString& path) override;
};

}  // namespace corvel::app
