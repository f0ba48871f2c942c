// The main window: every control of the dialog, built from its table, and
// the handlers that gather the user's choices and start the chip operations.
#pragma once

#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/control_table.h"
#include "app/dialog_units.h"
#include "app/port_scanner.h"
#include "log/log.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QProgressBar;
class QPushButton;

namespace corvel::app {

class LogPane;
class Prompter;

class MainDialog : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRescanDelayMs = 1000;

  MainDialog(Prompter& prompter, PortScanner::Lister portLister, QWidget* parent = nullptr);
  ~MainDialog() override;

  // Controls by id ("1065"); null for an id the dialog does not have.
  QWidget* control(int id) const;
  QPushButton* button(int id) const;
  QCheckBox* checkBox(int id) const;
  QComboBox* combo(int id) const;
  QLineEdit* edit(int id) const;
  LogPane& logPane() const { return *logPane_; }
  log::Log& log() { return *log_; }
  PortScanner& portScanner() { return scanner_; }
  const DialogUnits& units() const { return units_; }

  // The width the window opens with: the template's, less the extension area.
  int NarrowWidth() const;
  int ExtensionAreaWidth() const;
  bool extensionAreaShown() const { return extensionShown_; }
  void SetExtensionAreaShown(bool shown);

  // Brings combo 1004 up to date with `found`: new ports are added in sorted
  // place, missing ones removed; the selection stays on a port still there.
  void ScanPorts(const QStringList& found);
  // The rate selected in combo 1002, or 0 with a message when none is.
  bool ReadBaudRate();
  uint32_t currentBaudRate() const { return currentBaudRate_; }

  // Selected files of the firmware rows (empty: none chosen).
  const QString& appPath() const { return appPath_; }
  const QString& stackPath() const { return stackPath_; }
  const QString& bootPath() const { return bootPath_; }
  const QString& userDataPath() const { return userDataPath_; }

 protected:
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  void WireHandlers();
  void FillRateLists();
  void ShowAbout();

  void OnBaudSelChange(int index);
  void OnMoreFirmware();
  void OnSpeedUp();
  void OnSelectFile(int buttonId);
  void OnOptionChanged(int index);

  Prompter& prompter_;
  PortScanner scanner_;
  DialogUnits units_;
  std::vector<QWidget*> controls_;  // indexed by id - kFirstId; null where no control
  LogPane* logPane_ = nullptr;
  std::unique_ptr<log::Log> log_;
  QAction* aboutAction_ = nullptr;
  QAction* extensionAction_ = nullptr;
  QTimer rescanStart_;
  bool extensionShown_ = false;

  uint32_t currentBaudRate_ = 0;
  QString customRateText_;
  QString appPath_, stackPath_, bootPath_, userDataPath_;
};

}  // namespace corvel::app
