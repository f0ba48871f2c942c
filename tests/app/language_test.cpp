// The window's language switch: every caption at once, the state captions
// included; new log lines in the new language, earlier ones as they were.
#include <QAbstractButton>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QSettings>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include "app/log_pane.h"
#include "app/main_dialog.h"
#include "tests/app/scripted_chip_port.h"
#include "tests/app/scripted_prompter.h"
#include "tests/support/cjk.h"

namespace corvel::app {
namespace {

class LanguageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(settings.isValid());
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
  }
  void TearDown() override { text::SetLanguage(text::Language::kChinese); }

  QString Caption(int id) { return dialog.button(id)->text(); }
  // Every text a control shows: captions, titles, the option list.
  QStringList Captions() {
    QStringList shown;
    for (auto* button : dialog.findChildren<QAbstractButton*>()) shown << button->text();
    for (auto* label : dialog.findChildren<QLabel*>()) shown << label->text();
    for (auto* group : dialog.findChildren<QGroupBox*>()) shown << group->title();
    for (int i = 0; i < dialog.combo(kOptionCombo)->count(); ++i) shown << dialog.combo(kOptionCombo)->itemText(i);
    return shown;
  }

  QTemporaryDir settings;
  testing::ScriptedPrompter prompter;
  testing::ScriptedChipPort* port = new testing::ScriptedChipPort;  // owned by the dialog
  MainDialog dialog{prompter, [] { return QList<PortChoice>{QStringLiteral("/dev/ttyUSB0")}; },
                    std::unique_ptr<WindowPort>(port)};
};

TEST_F(LanguageTest, SwitchingRecaptionsEveryControlAndLaterLinesOnly) {
  dialog.combo(kPortCombo)->setCurrentIndex(0);
  dialog.button(kOpenPortButton)->click();
  dialog.button(kConnectButton)->click();
  ASSERT_EQ(Caption(kConnectButton), QStringLiteral("断开"));

  dialog.languageAction(text::Language::kEnglish)->trigger();
  EXPECT_EQ(QSettings().value(QString::fromUtf8(MainDialog::kLanguageSetting)).toString(), QStringLiteral("en"));
  struct Row {
    int id;
    const char* caption;
  };
  const Row rows[] = {{kOpenPortButton, "Close port"}, {kConnectButton, "Disconnect"},
                      {kChipInfoButton, "Chip info"},   {kDownloadButton, "download"},
                      {kAppCheck, "App:"},             {kSelectAppButton, "Choose"}};
  for (const Row& row : rows) {
    EXPECT_EQ(qobject_cast<QAbstractButton*>(dialog.control(row.id))->text(), QString::fromUtf8(row.caption));
  }
  EXPECT_EQ(qobject_cast<QGroupBox*>(dialog.control(kExtensionGroup))->title(), QStringLiteral("Extension area"));
  EXPECT_EQ(dialog.combo(kOptionCombo)->itemText(3), QStringLiteral("Read flash"));
  for (const QString& caption : Captions()) EXPECT_FALSE(testing::HasCjk(caption.toStdString())) << caption.toStdString();

  dialog.button(kMacButton)->click();
  const QStringList lines = dialog.logPane().toPlainText().split(u'\n', Qt::SkipEmptyParts);
  ASSERT_GE(lines.size(), 3);
  EXPECT_EQ(lines.first(), QStringLiteral("正在连接芯片,请执行复位....."));
  EXPECT_TRUE(lines.last().startsWith(QStringLiteral("Bluetooth MAC: 0x2B80"))) << lines.last().toStdString();

  dialog.languageAction(text::Language::kChinese)->trigger();
  EXPECT_EQ(Caption(kOpenPortButton), QStringLiteral("关闭串口"));
  EXPECT_EQ(Caption(kConnectButton), QStringLiteral("断开"));
  EXPECT_EQ(Caption(kChipInfoButton), QStringLiteral("读芯片信息"));
  EXPECT_EQ(QSettings().value(QString::fromUtf8(MainDialog::kLanguageSetting)).toString(), QStringLiteral("zh"));
}

}  // namespace
}  // namespace corvel::app
