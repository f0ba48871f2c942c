#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>

#include <gtest/gtest.h>

#include "app/custom_baud_dialog.h"
#include "app/main_dialog.h"
#include "tests/app/scripted_chip_port.h"
#include "tests/app/scripted_prompter.h"

namespace corvel::app {
namespace {

class PortSelectionTest : public ::testing::Test {
 protected:
  void ChooseBaud(int index) {
    dialog.combo(1002)->setCurrentIndex(index);
    emit dialog.combo(1002)->activated(index);
  }

  testing::ScriptedPrompter prompter;
  testing::ScriptedChipPort* port = new testing::ScriptedChipPort;  // owned by the dialog
  MainDialog dialog{prompter, [] { return QList<PortChoice>{QStringLiteral("/dev/ttyUSB0")}; },
                    std::unique_ptr<WindowPort>(port)};
};

TEST_F(PortSelectionTest, BaudListAndTheCustomEntry) {
  QComboBox* baud = dialog.combo(1002);
  ASSERT_EQ(baud->count(), 5);
  EXPECT_EQ(baud->itemText(0), QStringLiteral("custorm"));
  EXPECT_EQ(baud->currentText(), QStringLiteral("115200"));
  ASSERT_TRUE(dialog.ReadBaudRate());
  EXPECT_EQ(dialog.currentBaudRate(), 115200u);

  struct Row {
    QString entered, item;
    uint32_t rate;
  };
  const Row rows[] = {
      {QStringLiteral("921600"), QStringLiteral("921600"), 921600},
      {QString(), QStringLiteral("custorm"), 0},  // cancelled or nothing typed
      {QStringLiteral("abc"), QStringLiteral("abc"), 0},
      {QStringLiteral("  57600x"), QStringLiteral("  57600x"), 57600},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.entered.toStdString());
    ChooseBaud(3);
    prompter.customRates.push_back(row.entered);
    ChooseBaud(0);
    EXPECT_EQ(baud->itemText(0), row.item);
    EXPECT_EQ(baud->currentIndex(), 0);
    ASSERT_TRUE(dialog.ReadBaudRate());
    EXPECT_EQ(dialog.currentBaudRate(), row.rate);
  }
  ChooseBaud(4);
  ASSERT_TRUE(dialog.ReadBaudRate());
  EXPECT_EQ(dialog.currentBaudRate(), 1000000u);

  baud->setCurrentIndex(-1);
  EXPECT_FALSE(dialog.ReadBaudRate());
  EXPECT_EQ(prompter.messages, QStringList{QString::fromUtf8("请选择波特率")});
  EXPECT_EQ(prompter.titles, QStringList{QStringLiteral("Pellamy")});
}

TEST_F(PortSelectionTest, CustomBaudDialogButtons) {
  struct Row {
    const char* name;
    QString typed;
    const char* button;  // null: the close box
    QString entered;
    QStringList messages;
  };
  const Row rows[] = {
      {"ok", QStringLiteral("921600"), "1060", QStringLiteral("921600"), {}},
      {"ok trimmed", QStringLiteral(" 57600\t"), "1060", QStringLiteral("57600"), {}},
      {"ok largest", QStringLiteral("4294967295"), "1060", QStringLiteral("4294967295"), {}},
      {"cancel", QStringLiteral("9600"), "1061", QString(), {QStringLiteral("It's none!")}},
      {"close box", QStringLiteral("9600"), nullptr, QString(), {QStringLiteral("It's none!")}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    testing::ScriptedPrompter answers;
    CustomBaudDialog custom(answers);
    custom.show();
    custom.findChild<QLineEdit*>(QStringLiteral("1038"))->setText(row.typed);
    if (row.button != nullptr) {
      custom.findChild<QPushButton*>(QString::fromLatin1(row.button))->click();
    } else {
      custom.close();
    }
    EXPECT_FALSE(custom.isVisible());
    EXPECT_EQ(custom.enteredText(), row.entered);
    EXPECT_EQ(answers.messages, row.messages);
  }
}

// OK with anything but a rate says so and leaves the dialog open, the text
// selected for typing over; the corrected text is then taken.
TEST_F(PortSelectionTest, CustomBaudDialogRefusesWhatIsNotARate) {
  const QString refused[] = {QString(),
                             QStringLiteral("   "),
                             QStringLiteral("abc"),
                             QStringLiteral("-5"),
                             QStringLiteral("+5"),
                             QStringLiteral("0"),
                             QStringLiteral("000"),
                             QStringLiteral("115200x"),
                             QStringLiteral("115 200"),
                             QStringLiteral("4294967296"),
                             QStringLiteral("99999999999999999999"),
                             QString::fromUtf8("١٢٣")};  // digits, but not ASCII ones
  for (const QString& typed : refused) {
    SCOPED_TRACE(typed.toStdString());
    testing::ScriptedPrompter answers;
    CustomBaudDialog custom(answers);
    custom.show();
    auto* edit = custom.findChild<QLineEdit*>(QStringLiteral("1038"));
    edit->setText(typed);
    auto* ok = custom.findChild<QPushButton*>(QStringLiteral("1060"));
    ok->click();
    EXPECT_TRUE(custom.isVisible());
    EXPECT_EQ(custom.result(), QDialog::Rejected);
    EXPECT_TRUE(custom.enteredText().isEmpty());
    EXPECT_EQ(answers.messages, QStringList{QStringLiteral("please input a number!")});
    EXPECT_EQ(custom.focusWidget(), edit);
    EXPECT_EQ(edit->selectedText(), typed);

    edit->setText(QStringLiteral("9600"));
    ok->click();
    EXPECT_FALSE(custom.isVisible());
    EXPECT_EQ(custom.result(), QDialog::Accepted);
    EXPECT_EQ(custom.enteredText(), QStringLiteral("9600"));
    EXPECT_EQ(answers.messages.size(), 1);
  }
}

TEST_F(PortSelectionTest, EnterTakesTheTextAndEscapeDropsIt) {
  testing::ScriptedPrompter answers;
  CustomBaudDialog enter(answers);
  enter.show();
  auto* edit = enter.findChild<QLineEdit*>(QStringLiteral("1038"));
  edit->setFocus();
  edit->setText(QStringLiteral("460800"));
  QTest::keyClick(edit, Qt::Key_Return);
  EXPECT_EQ(enter.enteredText(), QStringLiteral("460800"));

  CustomBaudDialog escape(answers);
  escape.show();
  escape.findChild<QLineEdit*>(QStringLiteral("1038"))->setText(QStringLiteral("460800"));
  QTest::keyClick(&escape, Qt::Key_Escape);
  EXPECT_FALSE(escape.isVisible());
  EXPECT_TRUE(escape.enteredText().isEmpty());
  EXPECT_TRUE(answers.messages.isEmpty());
}

TEST_F(PortSelectionTest, PortListFollowsTheSystemAndKeepsTheSelection) {
  QComboBox* ports = dialog.combo(1004);
  ASSERT_EQ(ports->count(), 1);
  EXPECT_EQ(ports->currentIndex(), -1);  // the user picks

  dialog.ScanPorts({QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyACM0"), QStringLiteral("/dev/ttyS1")});
  ASSERT_EQ(ports->count(), 3);
  EXPECT_EQ(ports->itemText(0), QStringLiteral("/dev/ttyACM0"));
  EXPECT_EQ(ports->itemText(2), QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ(ports->currentIndex(), -1);

  ports->setCurrentIndex(2);
  dialog.ScanPorts({QStringLiteral("/dev/ttyUSB0"), QStringLiteral("/dev/ttyAMA0")});
  EXPECT_EQ(ports->count(), 2);
  EXPECT_EQ(ports->currentText(), QStringLiteral("/dev/ttyUSB0"));

  dialog.ScanPorts({QStringLiteral("/dev/ttyAMA0")});
  EXPECT_EQ(ports->count(), 1);
  EXPECT_EQ(ports->currentIndex(), -1);  // the selected port went away
}

TEST_F(PortSelectionTest, PortListShowsWhatIsBehindEachPathAndOpensThePath) {
  QComboBox* ports = dialog.combo(1004);
  const QString cp2102 = QStringLiteral("CP2102 USB to UART Bridge Controller");
  dialog.ScanPorts({{QStringLiteral("/dev/ttyUSB0"), cp2102}, SimulatedChipChoice(QStringLiteral("/dev/pts/7")),
                    QStringLiteral("/dev/ttyS0")});
  const QStringList shown = {QString::fromUtf8("/dev/pts/7 (模拟芯片)"), QStringLiteral("/dev/ttyS0"),
                             QStringLiteral("/dev/ttyUSB0 (CP2102 USB to UART Bridge Controller)")};
  ASSERT_EQ(ports->count(), shown.size());
  for (int i = 0; i < ports->count(); ++i) EXPECT_EQ(ports->itemText(i), shown[i]);
  EXPECT_EQ(ports->itemData(0).toString(), QStringLiteral("/dev/pts/7"));

  // Another adapter took the name: the text follows, the selection stays.
  ports->setCurrentIndex(2);
  dialog.ScanPorts({{QStringLiteral("/dev/ttyUSB0"), QStringLiteral("FT232R USB UART")}});
  ASSERT_EQ(ports->count(), 1);
  EXPECT_EQ(ports->currentText(), QStringLiteral("/dev/ttyUSB0 (FT232R USB UART)"));

  dialog.button(1066)->click();
  ASSERT_EQ(port->opens.size(), 1u);
  EXPECT_EQ(port->opens.back().first, "/dev/ttyUSB0");
  dialog.button(1066)->click();
}

TEST(PortScannerTest, ScansOnItsWorkerUntilPaused) {
  std::atomic<int> scans{0};
  PortScanner scanner([&] {
    ++scans;
    return QList<PortChoice>{QStringLiteral("/dev/ttyUSB%1").arg(scans.load())};
  });
  QSignalSpy found(&scanner, &PortScanner::PortsFound);
  scanner.Start(10);
  ASSERT_TRUE(found.wait(2000));
  EXPECT_TRUE(found.last().at(0).value<QList<PortChoice>>().first().path.startsWith(QStringLiteral("/dev/ttyUSB")));
  scanner.Pause();
  QTest::qWait(30);  // a scan in flight when paused may still finish
  found.clear();
  const int before = scans.load();
  QTest::qWait(100);
  EXPECT_LE(scans.load(), before + 1);
  EXPECT_TRUE(found.isEmpty());
  scanner.Resume();
  EXPECT_TRUE(found.wait(2000));
}

}  // namespace
}  // namespace corvel::app
