#include <QAbstractButton>
#include <QCheckBox>
#include <QApplication>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSet>
#include <QAction>
#include <QTest>

#include <gtest/gtest.h>

#include "app/control_table.h"
#include "app/log_pane.h"
#include "app/main_dialog.h"
#include "tests/app/scripted_chip_port.h"
#include "tests/app/scripted_prompter.h"

namespace corvel::app {
namespace {

QString CaptionOf(QWidget* widget) {
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  return {};
}

class ControlTableTest : public ::testing::Test {
 protected:
  // A screen with room for the whole layout, which is then not stretched.
  void SetUp() override { dialog.SetAvailableArea(QRect(0, 0, 1920, 1080)); }

  testing::ScriptedPrompter prompter;
  testing::ScriptedChipPort* port = new testing::ScriptedChipPort;  // owned by the dialog
  MainDialog dialog{prompter, [] { return QList<PortChoice>{}; }, std::unique_ptr<WindowPort>(port)};
};

TEST_F(ControlTableTest, EveryControlExistsWithItsCaptionStateAndPlace) {
  QSet<int> ids;
  for (const ControlEntry& entry : MainDialogControls()) {
    if (entry.id == 0) continue;
    SCOPED_TRACE(entry.id);
    EXPECT_FALSE(ids.contains(entry.id)) << "duplicate id";
    ids.insert(entry.id);
    QWidget* widget = dialog.findChild<QWidget*>(QString::number(entry.id));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget, dialog.control(entry.id));
    EXPECT_EQ(CaptionOf(widget), QString::fromUtf8(entry.caption));
    EXPECT_EQ(widget->isVisibleTo(&dialog), entry.visible);
    EXPECT_EQ(widget->isEnabled(), entry.enabled);
    // At the template's place; a box too low for the font's line grows about
    // its middle, a drop-down down from its top.
    const QRect place = dialog.units().ToPixels(entry.x, entry.y, entry.w, entry.h);
    EXPECT_EQ(widget->x(), place.x());
    if (entry.kind == ControlKind::kCombo || entry.kind == ControlKind::kSortedCombo) {
      EXPECT_EQ(widget->y(), place.y());
    } else {
      EXPECT_NEAR(widget->geometry().center().y(), place.center().y(), 1);
    }
  }
  EXPECT_EQ(ids.size(), 53);
}

TEST_F(ControlTableTest, CaptionsThatCarryState) {
  EXPECT_EQ(dialog.button(1066)->text(), QString::fromUtf8("打开串口"));
  EXPECT_EQ(dialog.button(1065)->text(), QString::fromUtf8("连接"));
  EXPECT_EQ(dialog.button(1073)->text(), QString::fromUtf8("download"));
  EXPECT_EQ(dialog.checkBox(1094)->text(), QString::fromUtf8("协议栈  :"));
  EXPECT_EQ(dialog.checkBox(1095)->text(), QString::fromUtf8("app固件 :"));
  EXPECT_EQ(dialog.edit(1096)->text(), QStringLiteral("0xFFFFFFFF"));
  EXPECT_EQ(qobject_cast<QProgressBar*>(dialog.control(1036))->maximum(), 100);
}

TEST_F(ControlTableTest, WindowOpensNarrowedWithTheExtensionAreaOutside) {
  EXPECT_EQ(dialog.windowTitle(), QStringLiteral("Corvel_DownloadTool_V1.3"));
  const int templateWidth = dialog.units().ToPixelsX(kDialogWidthDlu);
  // 170 pixels with the template's font (6 pixel characters), scaled with ours.
  EXPECT_EQ(dialog.ExtensionAreaWidth(), (170 * dialog.units().baseX() + 3) / 6);
  EXPECT_EQ(dialog.width(), templateWidth - dialog.ExtensionAreaWidth());
  EXPECT_EQ(dialog.height(), dialog.units().ToPixelsY(kDialogHeightDlu));
  // The group box of the extension area starts beyond the narrowed window.
  EXPECT_GE(dialog.control(1103)->x(), dialog.width());

  dialog.SetExtensionAreaShown(true);
  EXPECT_EQ(dialog.width(), templateWidth);
  EXPECT_LT(dialog.control(1103)->geometry().right(), dialog.width());
  for (int id : kExtensionAreaIds) EXPECT_TRUE(dialog.control(id)->isVisibleTo(&dialog)) << id;
  EXPECT_FALSE(dialog.control(1042)->isEnabled());  // shown, still waiting for a chip

  dialog.SetExtensionAreaShown(false);
  EXPECT_EQ(dialog.width(), templateWidth - dialog.ExtensionAreaWidth());
  for (int id : kExtensionAreaIds) EXPECT_FALSE(dialog.control(id)->isVisibleTo(&dialog)) << id;
}

TEST_F(ControlTableTest, ContextMenuItemsAndTheShortcut) {
  QStringList texts;
  for (QAction* action : dialog.findChildren<QAction*>()) texts << action->text();
  EXPECT_TRUE(texts.contains(QString::fromUtf8("关于 Pellamy(&A)...")));
  EXPECT_TRUE(texts.contains(QString::fromUtf8("扩展区")));

  dialog.show();
  dialog.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&dialog));
  QTest::keyClick(&dialog, Qt::Key_E, Qt::ControlModifier);
  EXPECT_TRUE(dialog.extensionAreaShown());
  QTest::keyClick(&dialog, Qt::Key_E, Qt::ControlModifier);
  EXPECT_FALSE(dialog.extensionAreaShown());
}

TEST_F(ControlTableTest, DialogUnitsFollowTheFontAsWindowsConvertsThem) {
  // 宋体 9 pt on Windows: 6 x 12 pixel base units, 473 x 363 units = 710 x 545.
  const DialogUnits windows(6, 12);
  EXPECT_EQ(windows.ToPixelsX(473), 710);
  EXPECT_EQ(windows.ToPixelsY(363), 545);
  EXPECT_GT(dialog.units().baseX(), 0);
  EXPECT_GT(dialog.units().baseY(), 0);
}

TEST_F(ControlTableTest, TheDialogFontIsTheInstalledChineseFont) {
  const QFontInfo info(dialog.font());
  EXPECT_TRUE(info.family().contains(QStringLiteral("CJK")) || info.family().contains(QStringLiteral("WenQuanYi")))
      << info.family().toStdString();
}

}  // namespace
}  // namespace corvel::app
