// The main window: every control of the dialog, built from its table, and
// the handlers that gather the user's choices and start the chip operations.
#pragma once

#include <QMargins>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/control_table.h"
#include "app/dialog_units.h"
#include "app/port_scanner.h"
#include "app/window_port.h"
#include "config/record_file.h"
#include "link/connection.h"
#include "link/link.h"
#include "log/log.h"
#include "program/download.h"
#include "text/translation.h"
#include "tools/load_file.h"

class QAction;
class QCheckBox;
class QComboBox;
class QLineEdit;
class QMenu;
class QProgressBar;
class QPushButton;
class QScrollArea;

namespace corvel::app {

class LogPane;
class Prompter;

class MainDialog : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRescanDelayMs = 1000;

  // Where the window keeps the chosen language between runs ("zh", "en").
  static constexpr const char* kLanguageSetting = "language";

  // Asked before a close would stop a chip operation.
  static constexpr const char* kStopQuestion = "芯片操作尚未结束, 关闭窗口将中止它。确定关闭吗?";

  // `fontPointSize`: the dialog font's size; the layout scales with it.
  MainDialog(Prompter& prompter, PortScanner::Lister portLister, std::unique_ptr<WindowPort> port,
             int fontPointSize = kFontPointSize);
  ~MainDialog() override;

  // Controls by id ("1065"); null for an id the dialog does not have. They
  // lie on the canvas, which the window scrolls when it is smaller than them.
  QWidget* control(int id) const;
  QPushButton* button(int id) const;
  QCheckBox* checkBox(int id) const;
  QComboBox* combo(int id) const;
  QLineEdit* edit(int id) const;
  LogPane& logPane() const { return *logPane_; }
  log::Log& log() { return *log_; }
  PortScanner& portScanner() { return scanner_; }
  const DialogUnits& units() const { return units_; }
  // The control of the table's entry `index`, those without an id included.
  QWidget* controlAt(size_t index) const { return index < placed_.size() ? placed_[index].widget : nullptr; }
  QWidget* canvas() const { return canvas_; }
  QScrollArea* scrollArea() const { return scrollArea_; }

  // The width the window opens with: the template's, less the extension area.
  int NarrowWidth() const;
  int ExtensionAreaWidth() const;
  bool extensionAreaShown() const { return extensionShown_; }
  // Widens or narrows the window by the extension area, keeping it on the screen.
  void SetExtensionAreaShown(bool shown);

  // Switches every text to `language` at once: the controls' captions, the
  // menu, and the log lines from now on (lines already shown stay).
  void SetLanguage(text::Language language);
  QAction* languageAction(text::Language language) const;

  // The layout's size as it stands (narrow or with the extension area), and
  // the least it takes before it scrolls: the log pane gives up room first.
  QSize LayoutSize() const;
  QSize MinimumLayoutSize() const;
  // The screen area the window keeps within: the current screen's available
  // area unless one was set. Setting one places the window afresh, centred.
  QRect AvailableArea() const;
  void SetAvailableArea(const QRect& area);

  // Brings the port list up to date with `found`: new ports are added in sorted
  // place, missing ones removed; the selection stays on a port still there.
  // Items show the choice's display text and hold its path as their data.
  void ScanPorts(const QList<PortChoice>& found);
  // The rate selected in the baud rate list, or 0 with a message when none is.
  bool ReadBaudRate();
  uint32_t currentBaudRate() const { return currentBaudRate_; }

  link::Link& link() { return *link_; }
  link::Connection& connection() { return *connection_; }
  // True while a chip operation waits for the chip.
  bool operationRunning() const { return operationRunning_; }
  const std::vector<uint8_t>& partitionRecord() const { return partitionRecord_; }
  const std::vector<uint8_t>& accessRecord() const { return accessRecord_; }
  // The extension area's loaded bytes; nothing loaded until the first load.
  const std::optional<tools::LoadedData>& loadedData() const { return loadedData_; }

  // Where the read buttons write their files: next to the executable, or
  // the current folder where that one cannot be written.
  static QString RecordFolder();

  // Selected files of the firmware rows (empty: none chosen).
  const QString& appPath() const { return appPath_; }
  const QString& stackPath() const { return stackPath_; }
  const QString& bootPath() const { return bootPath_; }
  const QString& userDataPath() const { return userDataPath_; }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;

 private:
  void BuildControls();
  // Places every control for the canvas's current size.
  void LayOut();
  void PlaceCentred();
  void FollowWindowSize();
  QMargins FrameMargins() const;
  void WireHandlers();
  void FillRateLists();
  void ShowAbout();
  // Every caption again, in the current language.
  void Recaption();

  void OnBaudSelChange(int index);
  void OnMoreFirmware();
  void OnSpeedUp();
  void OnSelectFile(int buttonId);
  void OnOptionChanged(int index);

  // main_dialog_operations.cpp: the port, the connection and the chip operations.
  void WireOperations();
  void TogglePort();
  void SetPortButtons(bool enabled);
  // The captions that follow the port, the connection and the download.
  void ShowStateCaptions();
  void ShowPortClosed();
  void OnConnect();
  void OnStageChanged(link::ConnectionStage stage);
  void SetChipButtons(bool enabled);
  // Runs one chip operation unless another one waits (a click then does nothing).
  template <class Operation>
  void RunChipOperation(Operation&& operation);
  void OnDownload();
  void OnReadRecord(config::RecordKind kind);
  void OnLoadRecord(config::RecordKind kind);
  void OnExtensionLoad();
  void OnExtensionExecute();
  uint32_t PasswordFromEdit() const;

  Prompter& prompter_;
  std::unique_ptr<WindowPort> port_;
  PortScanner scanner_;
  DialogUnits units_;
  std::vector<QWidget*> controls_;  // indexed by id; null where no control
  struct Placed {
    QWidget* widget;
    QRect rect;  // at the layout's own size
    Stretch stretch;
  };
  std::vector<Placed> placed_;
  int placedLogPaneHeight_ = 0;
  QScrollArea* scrollArea_ = nullptr;
  QWidget* canvas_ = nullptr;
  std::optional<QRect> availableArea_;
  LogPane* logPane_ = nullptr;
  std::unique_ptr<log::Log> log_;
  QAction* aboutAction_ = nullptr;
  QAction* extensionAction_ = nullptr;
  QMenu* languageMenu_ = nullptr;
  QAction* chineseAction_ = nullptr;
  QAction* englishAction_ = nullptr;
  QTimer rescanStart_;
  bool extensionShown_ = false;

  // Declared after the log and the port, which they use, so they go first.
  std::unique_ptr<link::Link> link_;
  std::unique_ptr<link::Connection> connection_;
  std::unique_ptr<program::Download> download_;
  bool operationRunning_ = false;
  bool closing_ = false;
  bool askingToStop_ = false;
  bool portOpen_ = false;
  // As the connection last reported it; the connect button's click follows it.
  link::ConnectionStage connectionStage_ = link::ConnectionStage::kIdle;
  uint32_t openedBaudRate_ = 0;
  std::vector<uint8_t> partitionRecord_;
  std::vector<uint8_t> accessRecord_;
  std::optional<tools::LoadedData> loadedData_;
  QString extensionFilePath_;

  uint32_t currentBaudRate_ = 0;
  QString customRateText_;
  QString appPath_, stackPath_, bootPath_, userDataPath_;
};

}  // namespace corvel::app
