// The main dialog's port row, connect button and chip operation buttons:
// each handler gathers what the window holds and calls the operation below.
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QStringList>

#include <optional>
#include <string>

#include "app/log_pane.h"
#include "app/main_dialog.h"
#include "app/prompter.h"
#include "config/record_read.h"
#include "program/device_info.h"
#include "program/chip_erase.h"
#include "serial/open_failure.h"
#include "text/number_text.h"
#include "text/read_file.h"
#include "tools/extension_ops.h"
#include "tools/load_file.h"
#include "text/translation.h"

namespace corvel::app {

namespace {

// Chosen at the moment a caption is set, in the language of that moment.
constexpr const char* kOpenCaption = "打开串口";
constexpr const char* kCloseCaption = "关闭串口";
constexpr const char* kConnectCaption = "连接";
constexpr const char* kStopCaption = "停止连接";
constexpr const char* kDisconnectCaption = "断开";
constexpr const char* kDownloadCaption = "download";
constexpr const char* kDownloadingCaption = "下载中...";
constexpr const char* kNoFileChosen = "没有选择文件";

std::string Utf8(const QString& text) { return text.toStdString(); }
QString Caption(const char* chinese) { return QString::fromUtf8(Tr(chinese)); }

const char* ConnectCaption(link::ConnectionStage stage) {
  switch (stage) {
    case link::ConnectionStage::kIdle: break;
    case link::ConnectionStage::kBursting: return kStopCaption;
    case link::ConnectionStage::kHandshaking:
    case link::ConnectionStage::kConnected: return kDisconnectCaption;
  }
  return kConnectCaption;
}

}  // namespace

template <class Operation>
void MainDialog::RunChipOperation(Operation&& operation) {
  // Two commands in flight would share one response flag and mix answers.
  if (operationRunning_ || closing_) return;
  operationRunning_ = true;
  operation();
  operationRunning_ = false;
}

void MainDialog::WireOperations() {
  port_->onPortError = [this](const std::string& text) {
    prompter_.ShowMessage(this, QString::fromStdString(text), QString::fromUtf8(kPortErrorTitle));
  };
  port_->onPortLost = [this](const std::string& reason) {
    log_->AppendLog(Tr("串口已断开: ") + reason);
    if (portOpen_) ShowPortClosed();
  };
  connection_->onStageChanged = [this](link::ConnectionStage stage) { OnStageChanged(stage); };
  download_->onRunningChanged = [this](bool running) {
    button(kDownloadButton)->setText(Caption(running ? kDownloadingCaption : kDownloadCaption));
  };

  connect(button(kOpenPortButton), &QPushButton::clicked, this, &MainDialog::TogglePort);
  connect(button(kConnectButton), &QPushButton::clicked, this, &MainDialog::OnConnect);
  connect(button(kChipInfoButton), &QPushButton::clicked, this,
          [this] { RunChipOperation([this] { program::ReadChipInfo(*link_); }); });
  connect(button(kFactoryInfoButton), &QPushButton::clicked, this,
          [this] { RunChipOperation([this] { program::ReadFactoryInfo(*link_); }); });
  connect(button(kMacButton), &QPushButton::clicked, this,
          [this] { RunChipOperation([this] { program::ReadMac(*link_); }); });
  connect(button(kEraseChipButton), &QPushButton::clicked, this,
          [this] { RunChipOperation([this] { program::EraseChip(*link_); }); });
  connect(button(kEraseUserButton), &QPushButton::clicked, this,
          [this] { RunChipOperation([this] { program::EraseUserArea(*link_); }); });
  connect(button(kDownloadButton), &QPushButton::clicked, this, &MainDialog::OnDownload);
  connect(button(kReadPartitionButton), &QPushButton::clicked, this,
          [this] { OnReadRecord(config::RecordKind::kPartition); });
  connect(button(kReadAccessButton), &QPushButton::clicked, this,
          [this] { OnReadRecord(config::RecordKind::kAccess); });
  connect(button(kSelectPartitionButton), &QPushButton::clicked, this,
          [this] { OnLoadRecord(config::RecordKind::kPartition); });
  connect(button(kSelectAccessButton), &QPushButton::clicked, this,
          [this] { OnLoadRecord(config::RecordKind::kAccess); });
  connect(button(kLoadFileButton), &QPushButton::clicked, this, &MainDialog::OnExtensionLoad);
  connect(button(kExecuteButton), &QPushButton::clicked, this, &MainDialog::OnExtensionExecute);
}

void MainDialog::SetPortButtons(bool enabled) {
  for (int id : kPortButtonIds) control(id)->setEnabled(enabled);
}

void MainDialog::SetChipButtons(bool enabled) {
  for (int id : kChipOperationIds) control(id)->setEnabled(enabled);
}

void MainDialog::TogglePort() {
  if (!portOpen_) {
    QComboBox* ports = combo(kPortCombo);
    if (ports->currentIndex() < 0) {
      prompter_.ShowMessage(this, QString::fromUtf8(Tr("请先选择串口")));
      return;
    }
    // Without a rate there is nothing sensible to open the port at.
    if (!ReadBaudRate()) return;
    const std::string path = Utf8(ports->currentData().toString());
    if (const Result<void> opened = port_->OpenPort(path, currentBaudRate_); !opened.ok()) {
      prompter_.ShowMessage(this, QString::fromUtf8(Tr("没有发现此串口或被占用\n")) +
                                      QString::fromStdString(serial::DescribeOpenFailure(path, opened.error())));
      return;
    }
    openedBaudRate_ = currentBaudRate_;
    portOpen_ = true;
    scanner_.Pause();
    button(kOpenPortButton)->setText(Caption(kCloseCaption));
    button(kConnectButton)->setEnabled(true);
    ports->setEnabled(false);
    if (connection_->IsConnected()) SetPortButtons(true);
    logPane_->StartFlush(*log_);
    return;
  }
  // Closing disables the stop button, so a running attempt stops here or
  // would burst into a closed port for ever.
  if (connectionStage_ == link::ConnectionStage::kBursting) connection_->StopAttempt();
  port_->RequestStop();
  ShowPortClosed();
}

void MainDialog::ShowPortClosed() {
  portOpen_ = false;
  scanner_.Resume();
  combo(kPortCombo)->setEnabled(true);
  SetPortButtons(false);
  button(kOpenPortButton)->setText(Caption(kOpenCaption));
}

uint32_t MainDialog::PasswordFromEdit() const {
  return text::ParseUnsigned(text::NormaliseHexText(Utf8(edit(kPasswordEdit)->text())), 16);
}

void MainDialog::OnConnect() {
  switch (connectionStage_) {
    case link::ConnectionStage::kIdle:
      // The attempt runs inside this click; the stop click is handled inside its waits.
      RunChipOperation([this] { connection_->StartAttempt(PasswordFromEdit(), openedBaudRate_); });
      break;
    case link::ConnectionStage::kBursting: connection_->StopAttempt(); break;
    case link::ConnectionStage::kHandshaking:
    case link::ConnectionStage::kConnected:
      if (operationRunning_) return;
      connection_->Disconnect();
      break;
  }
}

void MainDialog::OnStageChanged(link::ConnectionStage stage) {
  connectionStage_ = stage;
  button(kConnectButton)->setText(Caption(ConnectCaption(stage)));
  if (stage == link::ConnectionStage::kIdle) SetChipButtons(false);
  if (stage == link::ConnectionStage::kConnected) SetChipButtons(true);
}

void MainDialog::ShowStateCaptions() {
  button(kOpenPortButton)->setText(Caption(portOpen_ ? kCloseCaption : kOpenCaption));
  button(kConnectButton)->setText(Caption(ConnectCaption(connectionStage_)));
  button(kDownloadButton)->setText(Caption(download_->running() ? kDownloadingCaption : kDownloadCaption));
}

void MainDialog::OnDownload() {
  if (download_->running()) {
    download_->Abort();
    return;
  }
  if (operationRunning_ || closing_) return;
  program::DownloadChoice choice;
  if (checkBox(kSpeedUpCheck)->isChecked()) {
    choice.speedUpRate = text::ParseUnsigned(Utf8(combo(kSpeedUpCombo)->currentText()), 10);
  }
  choice.partition = checkBox(kPartitionCheck)->isChecked();
  choice.access = checkBox(kAccessCheck)->isChecked();
  choice.partitionRecord = partitionRecord_;
  choice.accessRecord = accessRecord_;
  struct ImageRow {
    int check;
    const QString& path;
    std::optional<std::string>& chosen;
  };
  const ImageRow imageRows[] = {{kAppCheck, appPath_, choice.appPath},
                                {kStackCheck, stackPath_, choice.stackPath},
                                {kBootCheck, bootPath_, choice.bootPath},
                                {kUserDataCheck, userDataPath_, choice.userDataPath}};
  QStringList unchosen;
  // Hidden rows count by their tick alone.
  for (const ImageRow& row : imageRows) {
    if (!checkBox(row.check)->isChecked()) continue;
    row.chosen = Utf8(row.path);
    if (row.path.isEmpty()) unchosen << checkBox(row.check)->text() + u' ' + Caption(kNoFileChosen);
  }
  if (choice.NothingTicked()) {
    log_->AppendLog(Tr("请勾选下载类型!"));
    return;
  }
  // Reading an empty path would fail without naming the row.
  if (!unchosen.isEmpty()) {
    prompter_.ShowMessage(this, unchosen.join(u'\n'));
    return;
  }
  // Every file is read and checked before the first command goes out.
  auto prepared = program::PrepareDownload(choice);
  if (!prepared) {
    prompter_.ShowMessage(this, QString::fromStdString(prepared.error().text));
    return;
  }
  auto* progress = qobject_cast<QProgressBar*>(control(kProgressBar));
  RunChipOperation([&] {
    download_->Run(*prepared, [progress](int position, uint32_t, uint32_t) {
      progress->setValue(std::clamp(position, 0, 100));
    });
  });
}

QString MainDialog::RecordFolder() {
  const QString executableFolder = QCoreApplication::applicationDirPath();
  const QFileInfo folder(executableFolder);
  if (folder.isDir() && folder.isWritable()) return executableFolder;
  return QDir::currentPath();
}

void MainDialog::OnReadRecord(config::RecordKind kind) {
  RunChipOperation([&] {
    const QString folder = RecordFolder();
    const std::string_view name =
        kind == config::RecordKind::kPartition ? config::kPartitionFileName : config::kAccessFileName;
    const QString path = QDir(folder).filePath(QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size())));
    if (config::ReadRecordToFile(*link_, kind, Utf8(path)) != config::ReadRecordResult::kOk) return;
    // An installed program's folder is not writable: say where the file went.
    if (folder != QCoreApplication::applicationDirPath()) {
      log_->AppendLog(Tr("程序目录不可写, 文件写入: ") + Utf8(QDir::toNativeSeparators(path)));
    }
    auto opened = prompter_.OpenInEditor(path);
    if (!opened) log_->AppendLog(opened.error().text);
  });
}

void MainDialog::OnLoadRecord(config::RecordKind kind) {
  const bool partition = kind == config::RecordKind::kPartition;
  const QString path = prompter_.AskOpenFile(this, kConfigFiles);
  if (path.isEmpty()) return;
  edit(partition ? kPartitionPathEdit : kAccessPathEdit)->setText(path);
  auto bytes = text::ReadFile(Utf8(path));
  if (!bytes) {
    if (partition) prompter_.ShowMessage(this, QStringLiteral("file open fail"));
    return;
  }
  std::vector<uint8_t>& record = partition ? partitionRecord_ : accessRecord_;
  auto loaded = config::LoadRecordFile(*bytes, kind);
  if (!loaded) {
    if (config::IsMarkerMissing(loaded.error())) record.clear();
    log_->AppendLog(loaded.error().text);
    return;
  }
  record = std::move(*loaded);
}

void MainDialog::OnExtensionLoad() {
  const QString path = prompter_.AskOpenFile(this, kConfigFiles);
  if (path.isEmpty()) return;
  extensionFilePath_ = path;
  edit(kLoadPathEdit)->setText(path);
  auto bytes = text::ReadFile(Utf8(path));
  if (!bytes) {
    prompter_.ShowMessage(this, QString::fromUtf8(Tr("请选择传输文件")));
    return;
  }
  auto loaded = tools::ParseLoadFile(*bytes);
  if (!loaded) {
    log_->AppendLog(loaded.error().text);
    return;
  }
  loadedData_ = std::move(*loaded);
}

void MainDialog::OnExtensionExecute() {
  RunChipOperation([this] {
    // The boxes as they are, whatever their enabled state.
    tools::ExtensionInputs inputs;
    inputs.option = combo(kOptionCombo)->currentIndex();
    inputs.addressText = Utf8(edit(kAddressEdit)->text());
    inputs.dataText = Utf8(edit(kDataEdit)->text());
    inputs.lengthText = Utf8(edit(kLengthEdit)->text());
    inputs.pageIndex = combo(kPageCombo)->currentIndex();
    inputs.loaded = loadedData_;
    const tools::ConfirmLock confirm = [this] {
      return prompter_.AskConfirm(this, QString::fromUtf8(Tr(tools::kLockQuestion)), QString::fromUtf8(tools::kLockCaption));
    };
    const tools::ExtensionResult result = tools::RunExtensionOperation(*link_, inputs, confirm);
    if (result.lengthText) edit(kLengthEdit)->setText(QString::fromStdString(*result.lengthText));
    if (result.dataText) edit(kDataEdit)->setText(QString::fromStdString(*result.dataText));
  });
}

void MainDialog::closeEvent(QCloseEvent* event) {
  // A stray Esc or click on the close box must not cut a download short. The
  // operation waits below this question and goes on once it is answered.
  if (operationRunning_ && !closing_) {
    if (askingToStop_) {
      event->ignore();
      return;
    }
    askingToStop_ = true;
    const bool stop = prompter_.AskConfirm(this, Caption(kStopQuestion), QString::fromUtf8(kMessageTitle));
    askingToStop_ = false;
    if (!stop) {
      event->ignore();
      return;
    }
  }
  // An operation waiting inside a click ends at once: the download is
  // aborted, the bursts stop, every wait sees the port gone. No command goes out.
  closing_ = true;
  if (download_->running()) download_->Abort();
  if (connectionStage_ == link::ConnectionStage::kBursting) connection_->StopAttempt();
  port_->SetClosing();
  port_->RequestStop();
  event->accept();
}

}  // namespace corvel::app
