#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>

#include <gtest/gtest.h>

#include "app/control_table.h"
#include "app/main_dialog.h"
#include "tests/app/scripted_chip_port.h"
#include "tests/app/scripted_prompter.h"

namespace corvel::app {
namespace {

class OptionsTest : public ::testing::Test {
 protected:
  bool Shown(int id) { return dialog.control(id)->isVisibleTo(&dialog); }

  testing::ScriptedPrompter prompter;
  testing::ScriptedChipPort* port = new testing::ScriptedChipPort;  // owned by the dialog
  MainDialog dialog{prompter, [] { return QList<PortChoice>{}; }, std::unique_ptr<WindowPort>(port)};
};

TEST_F(OptionsTest, MoreFirmwareShowsAndHidesItsRowsAndKeepsTheirTicks) {
  for (int id : kMoreFirmwareIds) EXPECT_FALSE(Shown(id)) << id;
  dialog.checkBox(1069)->click();
  for (int id : kMoreFirmwareIds) EXPECT_TRUE(Shown(id)) << id;
  EXPECT_TRUE(Shown(1095));  // the app row stays

  dialog.checkBox(1092)->click();
  dialog.checkBox(1069)->click();
  for (int id : kMoreFirmwareIds) EXPECT_FALSE(Shown(id)) << id;
  EXPECT_TRUE(Shown(1095));
  EXPECT_TRUE(dialog.checkBox(1092)->isChecked());
}

TEST_F(OptionsTest, SpeedUpShowsTheRateListWithItsDefault) {
  QComboBox* rates = dialog.combo(1003);
  EXPECT_FALSE(Shown(1003));
  ASSERT_EQ(rates->count(), 10);
  EXPECT_EQ(rates->currentText(), QStringLiteral("500000"));
  EXPECT_EQ(rates->itemText(2), rates->itemText(3));
  dialog.checkBox(1068)->click();
  EXPECT_TRUE(Shown(1003));
  dialog.checkBox(1068)->click();
  EXPECT_FALSE(Shown(1003));
}

TEST_F(OptionsTest, EachExtensionOptionEnablesItsInputs) {
  struct Row {
    const char* option;
    bool page, address, data, length, load;
  };
  const Row rows[] = {
      {"Erase Full Chip", false, false, false, false, false}, {"Page Erase", false, true, false, true, false},
      {"Setcor Erase", false, true, false, true, false},      {"读FLASH", false, true, false, true, false},
      {"写FLASH", false, true, false, false, true},           {"读寄存器", false, true, false, false, false},
      {"写寄存器", false, true, true, false, false},          {"读OTP", true, true, false, true, false},
      {"写OTP", true, true, false, false, true},              {"锁定OTP", true, false, false, false, false},
      {"擦出OTP", true, false, false, false, false},
  };
  dialog.SetExtensionAreaShown(true);
  QComboBox* options = dialog.combo(1005);
  ASSERT_EQ(options->count(), 11);
  EXPECT_EQ(options->currentIndex(), -1);
  // Until an option is chosen the inputs keep their first states.
  for (int id : {1005, 1006, 1021, 1022, 1023, 1024}) EXPECT_TRUE(dialog.control(id)->isEnabled()) << id;
  for (int id : {1041, 1042}) EXPECT_FALSE(dialog.control(id)->isEnabled()) << id;

  dialog.edit(1021)->setText(QStringLiteral("0x1000"));
  dialog.edit(1022)->setText(QStringLiteral("0x55"));
  for (int index = 0; index < 11; ++index) {
    const Row& row = rows[index];
    SCOPED_TRACE(row.option);
    ASSERT_EQ(options->itemText(index), QString::fromUtf8(row.option));
    options->setCurrentIndex(index);
    emit options->activated(index);
    EXPECT_EQ(dialog.control(1006)->isEnabled(), row.page);
    EXPECT_EQ(dialog.control(1021)->isEnabled(), row.address);
    EXPECT_EQ(dialog.control(1022)->isEnabled(), row.data);
    EXPECT_EQ(dialog.control(1023)->isEnabled(), row.length);
    EXPECT_FALSE(dialog.control(1024)->isEnabled());
    EXPECT_EQ(dialog.control(1041)->isEnabled(), row.load);
    EXPECT_FALSE(dialog.control(1042)->isEnabled());  // only a connection enables it
    EXPECT_EQ(dialog.edit(1021)->text(), QStringLiteral("0x1000"));
    EXPECT_EQ(dialog.edit(1022)->text(), QStringLiteral("0x55"));
  }
}

TEST_F(OptionsTest, SelectButtonsStoreThePathOrKeepItWhenCancelled) {
  const struct {
    int button, edit;
    const char* suffix;
  } rows[] = {{1067, 1014, "HEX"}, {1072, 1015, "HEX"}, {1071, 1016, "HEX"}, {1070, 1017, "CFG"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.button);
    const QString path = QStringLiteral("/tmp/fw/stack.rel.") + QString::number(row.button);
    prompter.fileNames.push_back(path);
    dialog.button(row.button)->click();
    EXPECT_EQ(prompter.suffixes.last(), QString::fromUtf8(row.suffix));
    EXPECT_EQ(dialog.edit(row.edit)->text(), path);
    // Cancelled: everything stays.
    dialog.button(row.button)->click();
    EXPECT_EQ(dialog.edit(row.edit)->text(), path);
  }
  EXPECT_EQ(dialog.appPath(), QStringLiteral("/tmp/fw/stack.rel.1067"));
  EXPECT_EQ(dialog.stackPath(), QStringLiteral("/tmp/fw/stack.rel.1072"));
  EXPECT_EQ(dialog.bootPath(), QStringLiteral("/tmp/fw/stack.rel.1071"));
  EXPECT_EQ(dialog.userDataPath(), QStringLiteral("/tmp/fw/stack.rel.1070"));
  EXPECT_TRUE(prompter.filters.first().contains(QStringLiteral("*.HEX")));
  EXPECT_TRUE(prompter.filters.last().contains(QStringLiteral("*.CFG")));
}

}  // namespace
}  // namespace corvel::app
