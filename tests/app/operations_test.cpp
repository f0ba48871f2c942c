// The port row, the connect button and the chip operation buttons against a
// scripted chip: captions, enabled buttons, what goes out and what is logged.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTest>

#include <gtest/gtest.h>

#include "app/control_table.h"
#include "app/log_pane.h"
#include "app/main_dialog.h"
#include "serial/open_failure.h"
#include "tests/app/scripted_chip_port.h"
#include "tests/app/scripted_prompter.h"
#include "tests/support/hex_writer.h"

namespace corvel::app {
namespace {

using testing::Bytes;

// `size` bytes counting up from 0 at address 0, as Intel HEX.
QByteArray MakeHex(size_t size) {
  Bytes pattern(size);
  for (size_t i = 0; i < size; ++i) pattern[i] = static_cast<uint8_t>(i);
  return QByteArray::fromStdString(testing::HexText(pattern));
}

class OperationsTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(folder.isValid()); }

  QString Caption(int id) { return dialog.button(id)->text(); }
  bool Enabled(int id) { return dialog.control(id)->isEnabled(); }
  QString Log() { return dialog.logPane().toPlainText(); }
  QString WriteFile(const QString& name, const QByteArray& bytes) {
    const QString path = folder.filePath(name);
    QFile file(path);
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(bytes);
    return path;
  }
  std::vector<uint8_t> Codes() {
    std::vector<uint8_t> codes;
    for (const Bytes& frame : port->chip.frames) codes.push_back(frame[1]);
    return codes;
  }

  void OpenPort() {
    dialog.combo(1004)->setCurrentIndex(0);
    dialog.button(1066)->click();
    ASSERT_EQ(Caption(1066), QStringLiteral("关闭串口"));
  }
  void Connect() {
    OpenPort();
    dialog.button(1065)->click();
    ASSERT_EQ(Caption(1065), QStringLiteral("断开"));
    port->chip.frames.clear();
  }
  void ClickLater(int id, int ms = 30) {
    QTimer::singleShot(ms, &dialog, [this, id] { dialog.button(id)->click(); });
  }

  QTemporaryDir folder;
  testing::ScriptedPrompter prompter;
  testing::ScriptedChipPort* port = new testing::ScriptedChipPort;  // owned by the dialog
  MainDialog dialog{prompter, [] { return QList<PortChoice>{QStringLiteral("/dev/ttyUSB0")}; },
                    std::unique_ptr<WindowPort>(port)};
};

TEST_F(OperationsTest, OpenAndCloseThePort) {
  dialog.button(1066)->click();
  EXPECT_EQ(prompter.messages, QStringList{QStringLiteral("请先选择串口")});

  port->openOk = false;
  dialog.combo(1004)->setCurrentIndex(0);
  dialog.button(1066)->click();
  // The scripted port answers busy; the cause line is the serial layer's.
  const std::string cause = serial::DescribeOpenFailure("/dev/ttyUSB0", {ErrorKind::kBusy, "Device or resource busy"});
  EXPECT_EQ(prompter.messages.last(), QStringLiteral("没有发现此串口或被占用\n") + QString::fromStdString(cause));
  EXPECT_TRUE(prompter.messages.last().contains(QStringLiteral("串口 /dev/ttyUSB0 正被")));
  EXPECT_EQ(Caption(1066), QStringLiteral("打开串口"));
  EXPECT_FALSE(Enabled(1065));

  port->openOk = true;
  dialog.button(1066)->click();
  ASSERT_EQ(port->opens.size(), 2u);
  EXPECT_EQ(port->opens.back(), std::make_pair(std::string("/dev/ttyUSB0"), 115200u));
  EXPECT_EQ(Caption(1066), QStringLiteral("关闭串口"));
  EXPECT_TRUE(Enabled(1065));
  EXPECT_FALSE(Enabled(1004));
  EXPECT_FALSE(Enabled(1056));  // no chip yet
  EXPECT_TRUE(dialog.portScanner().paused());
  EXPECT_TRUE(dialog.logPane().FlushRunning());

  dialog.button(1066)->click();
  EXPECT_EQ(port->stops, 1);
  EXPECT_EQ(Caption(1066), QStringLiteral("打开串口"));
  EXPECT_FALSE(Enabled(1065));
  EXPECT_TRUE(Enabled(1004));
  EXPECT_FALSE(dialog.portScanner().paused());
}

TEST_F(OperationsTest, ConsoleTextShowsWhileThePortIsOpen) {
  OpenPort();
  port->Receive({'h', 'i', '\r', '\n'});
  EXPECT_TRUE(QTest::qWaitFor([&] { return Log() == QStringLiteral("hi\n"); }, 2000));
}

TEST_F(OperationsTest, ConnectThenDisconnect) {
  OpenPort();
  dialog.button(1065)->click();
  EXPECT_EQ(Caption(1065), QStringLiteral("断开"));
  EXPECT_TRUE(Log().contains(QString::fromUtf8("正在连接芯片,请执行复位.....\n芯片连接成功!")));
  for (int id : kChipOperationIds) EXPECT_TRUE(Enabled(id)) << id;
  // The default password: the erased word, least significant byte first.
  ASSERT_GE(port->chip.frames.size(), 1u);
  EXPECT_EQ(port->chip.frames[0], testing::MakeFrame(0x11, {0xFF, 0xFF, 0xFF, 0xFF}));

  // Closing and re-opening the port keeps the chip's buttons.
  dialog.button(1066)->click();
  EXPECT_FALSE(Enabled(1056));
  dialog.button(1066)->click();
  for (int id : kPortButtonIds) EXPECT_TRUE(Enabled(id)) << id;

  port->chip.frames.clear();
  dialog.button(1065)->click();
  EXPECT_EQ(Caption(1065), QStringLiteral("连接"));
  EXPECT_TRUE(Log().endsWith(QString::fromUtf8("芯片断开连接!\n")));
  for (int id : kChipOperationIds) EXPECT_FALSE(Enabled(id)) << id;
  EXPECT_EQ(Codes(), std::vector<uint8_t>{0x12});
}

TEST_F(OperationsTest, PasswordTextAndARefusedHandshake) {
  OpenPort();
  port->chip.status[0x11] = 0x00;
  dialog.edit(1096)->setText(QStringLiteral("5A6B7C8D"));
  dialog.button(1065)->click();
  EXPECT_EQ(port->chip.frames[0], testing::MakeFrame(0x11, {0x8D, 0x7C, 0x6B, 0x5A}));
  EXPECT_EQ(Caption(1065), QStringLiteral("连接"));
  EXPECT_TRUE(Log().contains(QString::fromUtf8("芯片连接失败!")));
  EXPECT_FALSE(Enabled(1056));
}

TEST_F(OperationsTest, StopWhileBursting) {
  OpenPort();
  port->chip.syncFromBurst = 0;
  ClickLater(1065);
  dialog.button(1065)->click();  // returns once the stop inside it has run
  EXPECT_EQ(Caption(1065), QStringLiteral("连接"));
  EXPECT_GT(port->chip.bursts, 0);
  EXPECT_TRUE(port->chip.frames.empty());
  // The pane shows the stop line, then the diagnosis: nothing came back.
  const QString stopped = QString::fromUtf8(
      "停止连接芯片!\n波特率115200下未收到芯片的任何数据，请检查TX/RX是否交叉连接、GND、供电和复位线\n");
  EXPECT_TRUE(Log().endsWith(stopped)) << Log().toStdString();
  EXPECT_FALSE(dialog.log().FlushPaused());

  // Closing the port stops an attempt too: its stop button goes grey with it.
  ClickLater(1066);
  dialog.button(1065)->click();
  EXPECT_EQ(Caption(1065), QStringLiteral("连接"));
  EXPECT_EQ(Caption(1066), QStringLiteral("打开串口"));
  EXPECT_TRUE(Log().endsWith(stopped)) << Log().toStdString();
}

TEST_F(OperationsTest, DownloadTheApplication) {
  Connect();
  dialog.checkBox(1095)->click();
  prompter.fileNames.push_back(WriteFile(QStringLiteral("app.hex"), MakeHex(600)));
  dialog.button(1067)->click();
  dialog.button(1073)->click();
  EXPECT_EQ(Caption(1073), QStringLiteral("download"));
  EXPECT_TRUE(Log().contains(QString::fromUtf8("正在下载应用固件...")));
  EXPECT_TRUE(Log().contains(QString::fromUtf8("文件传输结束:编程成功!\n下载耗时:")));
  // Erase, request, then three blocks for 600 bytes.
  EXPECT_EQ(Codes(), (std::vector<uint8_t>{0x20, 0x23, 0x24, 0x24, 0x24}));
  EXPECT_EQ(port->chip.frames[0], testing::MakeFrame(0x20, {0x04}));
}

TEST_F(OperationsTest, DownloadRefusesBadInputsBeforeSendingAnything) {
  Connect();
  dialog.button(1073)->click();
  EXPECT_TRUE(Log().endsWith(QString::fromUtf8("请勾选下载类型!\n")));
  dialog.checkBox(1095)->click();  // ticked, no file chosen
  dialog.button(1073)->click();
  EXPECT_EQ(prompter.messages, QStringList{QString::fromUtf8("app固件 : 没有选择文件")});
  // Every such row in one box; a hidden row counts by its tick.
  dialog.checkBox(1093)->setChecked(true);
  prompter.messages.clear();
  dialog.button(1073)->click();
  EXPECT_EQ(prompter.messages, QStringList{QString::fromUtf8("app固件 : 没有选择文件\nUser数据: 没有选择文件")});
  dialog.checkBox(1093)->setChecked(false);
  dialog.checkBox(1095)->click();
  dialog.checkBox(1090)->click();  // ticked, nothing loaded
  prompter.messages.clear();
  dialog.button(1073)->click();
  EXPECT_EQ(prompter.messages, QStringList{QString::fromUtf8("分区文件未加载")});
  EXPECT_TRUE(port->chip.frames.empty());
  EXPECT_EQ(Caption(1073), QStringLiteral("download"));
}

// An image without a byte would erase its region and write nothing: the
// window says which file, as for any other bad image, and sends nothing.
TEST_F(OperationsTest, DownloadRefusesAnImageWithoutBytesNamingIt) {
  struct Row {
    int check;
    int select;
    const char* file;
    QByteArray text;
    const char* reason;
  };
  const Row rows[] = {
      {1095, 1067, "app.hex", ":00000001FF\r\n", "没有数据记录"},
      {1093, 1070, "user.cfg", " \r\n\t\r\n", "没有用户数据"},
  };
  Connect();
  for (const Row& row : rows) {
    const QString path = WriteFile(QString::fromUtf8(row.file), row.text);
    prompter.fileNames.push_back(path);
    dialog.button(row.select)->click();
    dialog.checkBox(row.check)->click();
    prompter.messages.clear();
    dialog.button(1073)->click();
    EXPECT_EQ(prompter.messages, QStringList{path + QString::fromUtf8(": ") + QString::fromUtf8(row.reason)});
    dialog.checkBox(row.check)->click();
  }
  EXPECT_TRUE(port->chip.frames.empty());
  EXPECT_EQ(Caption(1073), QStringLiteral("download"));
}

TEST_F(OperationsTest, SecondPressAbortsAndOtherChipButtonsWait) {
  Connect();
  dialog.checkBox(1095)->click();
  prompter.fileNames.push_back(WriteFile(QStringLiteral("app.hex"), MakeHex(4096)));
  dialog.button(1067)->click();
  // The first block is not answered until the test has clicked around.
  port->chip.status[0x24] = testing::kSilent;
  QTimer::singleShot(30, &dialog, [this] {
    EXPECT_EQ(Caption(1073), QStringLiteral("下载中..."));
    dialog.button(1056)->click();  // ignored: a command is waiting
    dialog.button(1065)->click();  // the disconnect is ignored too
    dialog.button(1073)->click();  // the abort
    port->Receive(testing::MakeResponse(0x24, 0x00));
  });
  dialog.button(1073)->click();
  EXPECT_EQ(Caption(1073), QStringLiteral("download"));
  EXPECT_EQ(Caption(1065), QStringLiteral("断开"));
  EXPECT_TRUE(Log().contains(QString::fromUtf8("手动中断下载!")));
  EXPECT_FALSE(Log().contains(QString::fromUtf8("编程成功")));
  EXPECT_EQ(Codes(), (std::vector<uint8_t>{0x20, 0x23, 0x24}));
}

TEST_F(OperationsTest, ClosingDuringAnOperationEndsItAndStopsThePort) {
  Connect();
  port->chip.status[0x20] = testing::kSilent;
  QTimer::singleShot(30, &dialog, [this] { dialog.close(); });
  QElapsedTimer elapsed;
  elapsed.start();
  dialog.button(1061)->click();
  EXPECT_LT(elapsed.elapsed(), 2000);  // not the command's 4 s limit
  EXPECT_EQ(prompter.questions, QStringList{QString::fromUtf8(MainDialog::kStopQuestion)});  // answered OK
  EXPECT_EQ(port->stops, 1);
  EXPECT_EQ(Codes(), std::vector<uint8_t>{0x20});
  EXPECT_TRUE(Log().endsWith(QString::fromUtf8("擦出flash失败!\n")));
}

// A stray Esc in the middle of a download asks first; Cancel lets the
// download finish. When idle, Esc closes at once.
TEST_F(OperationsTest, EscDuringADownloadAsksAndCancelLetsItFinish) {
  Connect();
  dialog.show();
  dialog.checkBox(1095)->click();
  prompter.fileNames.push_back(WriteFile(QStringLiteral("app.hex"), MakeHex(600)));
  dialog.button(1067)->click();
  port->chip.blockStatus[1] = testing::kSilent;  // the first block, held until the test has pressed Esc
  prompter.confirmAnswer = false;
  QTimer::singleShot(30, &dialog, [this] {
    QWidget* focus = QApplication::focusWidget();
    QTest::keyClick(focus != nullptr ? focus : &dialog, Qt::Key_Escape);
    port->Receive(testing::MakeResponse(0x24, 0x00));
  });
  dialog.button(1073)->click();
  EXPECT_EQ(prompter.questions, QStringList{QString::fromUtf8(MainDialog::kStopQuestion)}) << Log().toStdString();
  EXPECT_TRUE(Log().contains(QString::fromUtf8("文件传输结束:编程成功!"))) << Log().toStdString();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(port->stops, 0);

  prompter.questions.clear();
  QTest::keyClick(&dialog, Qt::Key_Escape);
  EXPECT_TRUE(prompter.questions.isEmpty());
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(port->stops, 1);
}

TEST_F(OperationsTest, ReadARecordIntoItsFileAndLoadItBack) {
  Connect();
  Bytes record(52, 0xFF);
  record[0] = 0xD4, record[1] = 0x2D, record[2] = 0x91, record[3] = 0xD3;
  testing::ScriptedChip& chip = port->chip;
  chip.data[0x2D] = record;
  // Only the partition record's read succeeds; the access record's is refused.
  chip.onCommand = [&chip](uint8_t code, const Bytes& payload) {
    chip.status[code] = code == 0x2D && payload == Bytes{0, 0, 0, 0, 0x34, 0} ? 0x00 : 0x01;
  };
  dialog.button(1060)->click();
  ASSERT_EQ(prompter.opened.size(), 1);
  const QString path = prompter.opened[0];
  EXPECT_EQ(QFileInfo(path).fileName(), QStringLiteral("ble_part_config.cfg"));
  EXPECT_EQ(QFileInfo(path).absolutePath(), QDir(MainDialog::RecordFolder()).absolutePath());

  dialog.button(1058)->click();  // the chip refuses: no file
  EXPECT_TRUE(Log().endsWith(QString::fromUtf8("读取文件失败!\n")));
  EXPECT_EQ(prompter.opened.size(), 1);

  prompter.fileNames.push_back(path);
  dialog.button(1063)->click();
  EXPECT_EQ(dialog.edit(1012)->text(), path);
  EXPECT_EQ(dialog.partitionRecord(), record);
  QFile::remove(path);
}

TEST_F(OperationsTest, LoadRecordFailures) {
  prompter.fileNames.push_back(folder.filePath(QStringLiteral("missing.cfg")));
  dialog.button(1063)->click();
  EXPECT_EQ(prompter.messages, QStringList{QStringLiteral("file open fail")});
  prompter.fileNames.push_back(folder.filePath(QStringLiteral("missing.cfg")));
  dialog.button(1064)->click();  // the access file fails silently
  EXPECT_EQ(prompter.messages.size(), 1);

  prompter.fileNames.push_back(WriteFile(QStringLiteral("plain.cfg"), "D4 2D 91 D3\n"));
  dialog.button(1064)->click();
  EXPECT_TRUE(Log().endsWith(QString::fromUtf8("文件格式错误，请重新加载!\n")));
  EXPECT_TRUE(dialog.accessRecord().empty());
  prompter.fileNames.push_back(WriteFile(QStringLiteral("access.cfg"), "/* BLE-ACCESS-CONFIG */\n1C 00 00 00\n"));
  dialog.button(1064)->click();
  EXPECT_EQ(dialog.accessRecord(), (Bytes{0x1C, 0, 0, 0}));
}

TEST_F(OperationsTest, ExtensionAreaLoad) {
  dialog.SetExtensionAreaShown(true);
  dialog.combo(1005)->setCurrentIndex(4);
  emit dialog.combo(1005)->activated(4);
  EXPECT_FALSE(dialog.loadedData().has_value());
  prompter.fileNames.push_back(WriteFile(QStringLiteral("data.cfg"), "01 02\r\nA0\tFF\n"));
  dialog.button(1041)->click();
  ASSERT_TRUE(dialog.loadedData().has_value());
  EXPECT_EQ(dialog.loadedData()->bytes, (Bytes{0x01, 0x02, 0xA0, 0xFF}));

  const QString missing = folder.filePath(QStringLiteral("gone.cfg"));
  prompter.fileNames.push_back(missing);
  dialog.button(1041)->click();
  EXPECT_EQ(prompter.messages, QStringList{QStringLiteral("请选择传输文件")});
  EXPECT_EQ(dialog.edit(1024)->text(), missing);
  EXPECT_EQ(dialog.loadedData()->bytes, (Bytes{0x01, 0x02, 0xA0, 0xFF}));
}

}  // namespace
}  // namespace corvel::app

namespace corvel::app {
namespace {

TEST_F(OperationsTest, InformationAndEraseButtonsSendTheirCommands) {
  struct Row {
    int button;
    uint8_t firstCode;
    const char* line;
  };
  const Row rows[] = {
      {1056, 0x26, "Ota_Name :"}, {1055, 0x26, "出厂信息如下："}, {1074, 0x26, "蓝牙MAC：0x2B8012345678"},
      {1061, 0x20, "擦出flash成功!"}, {1062, 0x2D, "擦出flash成功"},
  };
  Connect();
  // OTP page 1 and the flash read as zeros, but for the MAC at 0x48.
  testing::ScriptedChip& chip = port->chip;
  chip.otp[1].Write(0, Bytes(256, 0));
  chip.otp[1].Write(0x48, {0x78, 0x56, 0x34, 0x12});
  chip.data[0x2D] = Bytes(256, 0);
  chip.data[0x13] = chip.data[0x15] = Bytes(4, 0);  // boot version, chip id
  for (const Row& row : rows) {
    SCOPED_TRACE(row.button);
    port->chip.frames.clear();
    dialog.button(1035)->click();
    dialog.button(row.button)->click();
    ASSERT_FALSE(port->chip.frames.empty());
    EXPECT_EQ(port->chip.frames[0][1], row.firstCode);
    EXPECT_TRUE(Log().contains(QString::fromUtf8(row.line))) << Log().left(200).toStdString();
  }
}

}  // namespace
}  // namespace corvel::app

namespace corvel::app {
namespace {

TEST_F(OperationsTest, ExtensionAreaExecute) {
  Connect();
  dialog.SetExtensionAreaShown(true);
  EXPECT_TRUE(Enabled(1042));
  const auto choose = [&](int index) {
    dialog.combo(1005)->setCurrentIndex(index);
    emit dialog.combo(1005)->activated(index);
  };
  port->chip.data[0x29] = {0x78, 0x56, 0x34, 0x12};
  // Read register: the value lands in the (disabled) data edit.
  choose(5);
  dialog.edit(1021)->setText(QStringLiteral("40000000"));
  dialog.button(1042)->click();
  ASSERT_EQ(port->chip.frames.size(), 1u);
  EXPECT_TRUE(dialog.edit(1022)->text().contains(QStringLiteral("12345678"), Qt::CaseInsensitive))
      << dialog.edit(1022)->text().toStdString();

  // Write flash with the loaded bytes: the length edit shows their count.
  prompter.fileNames.push_back(WriteFile(QStringLiteral("data.cfg"), "01 02 03"));
  choose(4);
  dialog.button(1041)->click();
  port->chip.frames.clear();
  dialog.button(1042)->click();
  ASSERT_EQ(port->chip.frames.size(), 1u);
  EXPECT_EQ(dialog.edit(1023)->text(), QStringLiteral("3"));

  // Lock OTP asks first; Cancel sends nothing.
  choose(9);
  dialog.combo(1006)->setCurrentIndex(0);
  prompter.confirmAnswer = false;
  port->chip.frames.clear();
  dialog.button(1042)->click();
  EXPECT_EQ(prompter.questions, QStringList{QString::fromUtf8("是否锁定OTP区域?")});
  EXPECT_TRUE(port->chip.frames.empty());
}

}  // namespace
}  // namespace corvel::app
