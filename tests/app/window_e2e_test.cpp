// The window end to end: the real serial port driver on one side of a
// pseudo-terminal, the simulated chip on the other, and clicks on the
// window's buttons. With CORVEL_SCREENSHOT set, the window after the
// download is saved there (scripts/screenshot).
#include <QCheckBox>
#include <QComboBox>
#include <QPushButton>
#include <QElapsedTimer>
#include <QTest>

#include <gtest/gtest.h>

#include "app/log_pane.h"
#include "app/main_dialog.h"
#include "app/window_host.h"
#include "sim/pty_server.h"
#include "tests/app/scripted_prompter.h"

namespace corvel::app {
namespace {

QString Example(const char* name) { return QStringLiteral(CORVEL_SOURCE_DIR "/examples/") + QString::fromUtf8(name); }

TEST(WindowEndToEnd, DownloadFromTheSimulatedChip) {
  sim::PtyServer simulator;
  auto device = simulator.Start(sim::SimOptions{});
  ASSERT_TRUE(device.ok()) << device.error().text;

  testing::ScriptedPrompter prompter;
  const std::string path = *device;
  MainDialog dialog(
      prompter, [path] { return QList<PortChoice>{SimulatedChipChoice(QString::fromStdString(path))}; },
      std::make_unique<WindowHost>());
  dialog.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  const auto log = [&] { return dialog.logPane().toPlainText(); };

  dialog.combo(1004)->setCurrentIndex(0);
  dialog.button(1066)->click();
  ASSERT_EQ(dialog.button(1066)->text(), QStringLiteral("关闭串口"));
  dialog.button(1065)->click();  // returns connected, refused or stopped
  ASSERT_EQ(dialog.button(1065)->text(), QStringLiteral("断开")) << log().toStdString();
  ASSERT_TRUE(log().contains(QString::fromUtf8("芯片连接成功!")));

  dialog.checkBox(1090)->click();
  prompter.fileNames.push_back(Example("ble_part_config.cfg"));
  dialog.button(1063)->click();
  ASSERT_EQ(dialog.partitionRecord().size(), 52u);
  dialog.checkBox(1095)->click();
  prompter.fileNames.push_back(Example("app_demo.hex"));
  dialog.button(1067)->click();
  dialog.button(1073)->click();  // returns when the run has ended

  EXPECT_EQ(dialog.button(1073)->text(), QStringLiteral("download"));
  EXPECT_TRUE(log().contains(QString::fromUtf8("分区信息写入成功!"))) << log().toStdString();
  EXPECT_TRUE(log().contains(QString::fromUtf8("文件传输结束:编程成功!\n下载耗时:"))) << log().toStdString();
  EXPECT_TRUE(prompter.messages.isEmpty()) << prompter.messages.join(QLatin1Char('|')).toStdString();

  const QByteArray picture = qgetenv("CORVEL_SCREENSHOT");
  if (!picture.isEmpty()) {
    QTest::qWait(200);  // let the last lines paint
    EXPECT_TRUE(dialog.grab().save(QString::fromLocal8Bit(picture)));
  }

  dialog.button(1065)->click();
  EXPECT_EQ(dialog.button(1065)->text(), QStringLiteral("连接"));
  dialog.button(1066)->click();
  (void)simulator.Stop();
}

TEST(WindowEndToEnd, AVanishedAdapterClosesThePortRow) {
  sim::SimOptions options;
  options.model.faults.vanishAfterFrames = 3;  // the handshake, its follow-up, one command
  sim::PtyServer simulator;
  auto device = simulator.Start(options);
  ASSERT_TRUE(device.ok()) << device.error().text;

  testing::ScriptedPrompter prompter;
  const std::string path = *device;
  MainDialog dialog(
      prompter, [path] { return QList<PortChoice>{SimulatedChipChoice(QString::fromStdString(path))}; },
      std::make_unique<WindowHost>());
  const auto log = [&] { return dialog.logPane().toPlainText(); };
  dialog.combo(1004)->setCurrentIndex(0);
  dialog.button(1066)->click();
  dialog.button(1065)->click();
  ASSERT_EQ(dialog.button(1065)->text(), QStringLiteral("断开")) << log().toStdString();

  QElapsedTimer elapsed;
  elapsed.start();
  dialog.button(1056)->click();
  dialog.button(1056)->click();
  EXPECT_LT(elapsed.elapsed(), 3000);  // the waits end with the port, not at their limits
  EXPECT_TRUE(QTest::qWaitFor([&] { return dialog.button(1066)->text() == QStringLiteral("打开串口"); }, 3000));
  EXPECT_TRUE(log().contains(QString::fromUtf8("串口已断开"))) << log().toStdString();
  EXPECT_TRUE(dialog.combo(1004)->isEnabled());
  (void)simulator.Stop();
}

}  // namespace
}  // namespace corvel::app
