#include <QApplication>
#include <QElapsedTimer>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "app/log_pane.h"
#include "app/main_dialog.h"
#include "tests/app/scripted_chip_port.h"
#include "tests/app/scripted_prompter.h"

namespace corvel::app {
namespace {

class LogPaneTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    dialog.activateWindow();
  }

  LogPane& pane() { return dialog.logPane(); }
  const uint8_t* Bytes(const char* text) { return reinterpret_cast<const uint8_t*>(text); }

  testing::ScriptedPrompter prompter;
  testing::ScriptedChipPort* port = new testing::ScriptedChipPort;  // owned by the dialog
  MainDialog dialog{prompter, [] { return QList<PortChoice>{}; }, std::unique_ptr<WindowPort>(port)};
};

TEST_F(LogPaneTest, LinesGoAtTheEndWithTheFocusAndTheEndInView) {
  dialog.edit(1096)->setFocus();
  pane().setPlainText(QStringLiteral("typed by the user"));
  pane().moveCursor(QTextCursor::Start);
  dialog.log().AppendLog("");
  dialog.log().AppendLog("芯片连接成功!");
  EXPECT_EQ(pane().toPlainText(), QString::fromUtf8("typed by the user\n芯片连接成功!\n"));
  EXPECT_EQ(pane().textCursor().position(), pane().document()->characterCount() - 1);
  EXPECT_TRUE(pane().hasFocus());

  for (int i = 0; i < 200; ++i) dialog.log().AppendLog("line " + std::to_string(i));
  QScrollBar* bar = pane().verticalScrollBar();
  EXPECT_EQ(bar->value(), bar->maximum());
}

TEST_F(LogPaneTest, ClearButtonEmptiesThePane) {
  dialog.log().AppendLog("x");
  dialog.button(1035)->click();
  EXPECT_TRUE(pane().toPlainText().isEmpty());
}

TEST_F(LogPaneTest, ConsoleTextArrivesWithTheFlushAsReceivedAndPausesWithTheLog) {
  dialog.edit(1096)->setFocus();
  pane().StartFlush(dialog.log());
  pane().StartFlush(dialog.log());  // a second start finds it running
  EXPECT_TRUE(pane().FlushRunning());
  dialog.log().AppendReceivedText(Bytes("boot 1.2\r\n> "), 12);
  // A character split between two flushes still comes out whole.
  const char split[] = "\xe8\x8a";  // the first two bytes of 芯
  dialog.log().AppendReceivedText(Bytes(split), 2);
  EXPECT_TRUE(QTest::qWaitFor([&] { return !pane().toPlainText().isEmpty(); }, 2000));
  dialog.log().AppendReceivedText(Bytes("\xaf"), 1);
  EXPECT_TRUE(QTest::qWaitFor([&] { return pane().toPlainText().endsWith(QString::fromUtf8("芯")); }, 2000));
  EXPECT_EQ(pane().toPlainText(), QString::fromUtf8("boot 1.2\n> 芯"));
  EXPECT_TRUE(dialog.edit(1096)->hasFocus());  // console text does not take the focus

  dialog.log().PauseFlush();
  dialog.button(1035)->click();
  dialog.log().AppendReceivedText(Bytes("kept"), 4);
  QTest::qWait(3 * LogPane::kFlushIntervalMs);
  EXPECT_TRUE(pane().toPlainText().isEmpty());
  dialog.log().ResumeFlush();
  EXPECT_TRUE(QTest::qWaitFor([&] { return pane().toPlainText() == QStringLiteral("kept"); }, 2000));
}

TEST_F(LogPaneTest, EnterInThePaneAddsALineAndTheWindowStays) {
  pane().setFocus();
  QTest::keyClick(&pane(), Qt::Key_A);
  QTest::keyClick(&pane(), Qt::Key_Return);
  QTest::keyClick(&pane(), Qt::Key_B);
  EXPECT_EQ(pane().toPlainText(), QStringLiteral("a\nb"));
  EXPECT_TRUE(dialog.isVisible());
  QTest::keyClick(dialog.edit(1096), Qt::Key_Return);
  EXPECT_TRUE(dialog.isVisible());
}

TEST_F(LogPaneTest, AHundredThousandLinesStayQuick) {
  QElapsedTimer timer;
  timer.start();
  for (int i = 0; i < 100000; ++i) dialog.log().AppendLog("Block 12345 ok");
  EXPECT_EQ(pane().document()->blockCount(), 100001);
  // Seconds, not minutes; generous for the sanitizer build.
  EXPECT_LT(timer.elapsed(), 60000);
  std::printf("100000 lines: %lld ms\n", static_cast<long long>(timer.elapsed()));
}

}  // namespace
}  // namespace corvel::app
