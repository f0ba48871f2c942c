// The window on laptop screens: where it opens, what a resize does to the
// controls, and the group boxes' frames around their controls.
#include <QScrollArea>
#include <QScrollBar>
#include <QTest>

#include <gtest/gtest.h>

#include <vector>

#include "app/control_table.h"
#include "app/dialog_group_box.h"
#include "app/main_dialog.h"
#include "app/window_geometry.h"
#include "tests/app/scripted_chip_port.h"
#include "tests/app/scripted_prompter.h"

namespace corvel::app {
namespace {

TEST(WindowGeometry, PlacesAndKeepsAWindowWithinTheArea) {
  const QRect area(0, 0, 1366, 728);
  const QMargins frame(4, 36, 4, 4);
  // Centred, frame included; a window taller than the area gets its height.
  EXPECT_EQ(CentredWithin(QSize(630, 600), area, frame), QRect(368, 80, 630, 600));
  EXPECT_EQ(CentredWithin(QSize(630, 900), area, frame), QRect(368, 36, 630, 688));
  // Already inside: left alone. Running off the right: moved left. Wider than
  // the area: as wide as it allows.
  EXPECT_EQ(KeptWithin(QRect(100, 100, 828, 600), area, frame), QRect(100, 100, 828, 600));
  EXPECT_EQ(KeptWithin(QRect(700, 100, 828, 600), area, frame), QRect(534, 100, 828, 600));
  EXPECT_EQ(KeptWithin(QRect(-50, 0, 2000, 600), area, frame), QRect(4, 36, 1358, 600));
}

std::string Text(const QRect& r) {
  return std::to_string(r.x()) + "," + std::to_string(r.y()) + " " + std::to_string(r.width()) + "x" +
         std::to_string(r.height());
}

struct Screen {
  const char* name;
  QRect available;  // the screen less a 40 pixel panel
  int pointSize;
};

class WindowOnScreen : public ::testing::TestWithParam<Screen> {
 protected:
  void SetUp() override {
    dialog.SetAvailableArea(GetParam().available);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
  }
  bool OnScreen() const { return GetParam().available.contains(dialog.frameGeometry()); }
  QRect Frame(QWidget* group) const {
    const QRect frame = static_cast<DialogGroupBox*>(group)->FrameRect();
    return frame.translated(group->pos()).adjusted(2, 2, -2, -2);  // inside the line
  }
  // Every control whose template place lies in a group's lies inside its frame.
  void ExpectControlsInsideTheirFrames() {
    const auto controls = MainDialogControls();
    std::vector<QWidget*> widgets;
    for (size_t i = 0; i < controls.size(); ++i) widgets.push_back(dialog.controlAt(i));
    for (size_t g = 0; g < controls.size(); ++g) {
      const ControlEntry& group = controls[g];
      if (group.kind != ControlKind::kGroupBox) continue;
      const QRect groupPlace(group.x, group.y, group.w, group.h);
      for (size_t c = 0; c < controls.size(); ++c) {
        const ControlEntry& entry = controls[c];
        if (entry.kind == ControlKind::kGroupBox || !groupPlace.contains(QRect(entry.x, entry.y, entry.w, entry.h))) {
          continue;
        }
        EXPECT_TRUE(Frame(widgets[g]).contains(widgets[c]->geometry()))
            << group.caption << " / " << (entry.id ? std::to_string(entry.id) : entry.caption) << ": "
            << Text(widgets[c]->geometry()) << " outside " << Text(Frame(widgets[g]));
      }
    }
  }
  void Settle() { QTest::qWait(50); }

  testing::ScriptedPrompter prompter;
  MainDialog dialog{prompter, [] { return QList<PortChoice>{}; },
                    std::unique_ptr<WindowPort>(new testing::ScriptedChipPort), GetParam().pointSize};
};

TEST_P(WindowOnScreen, FitsCentredWithAndWithoutTheExtensionArea) {
  const QRect available = GetParam().available;
  EXPECT_TRUE(OnScreen()) << dialog.geometry().x() << "," << dialog.geometry().y();
  EXPECT_NEAR(dialog.geometry().center().x(), available.center().x(), 1);
  ExpectControlsInsideTheirFrames();
  // The dialog's own font needs no scrolling on these screens; a larger one may.
  if (GetParam().pointSize == kFontPointSize) {
    EXPECT_FALSE(dialog.scrollArea()->verticalScrollBar()->isVisible());
    EXPECT_FALSE(dialog.scrollArea()->horizontalScrollBar()->isVisible());
  }

  const int narrow = dialog.width();
  dialog.SetExtensionAreaShown(true);
  Settle();
  EXPECT_TRUE(OnScreen()) << Text(dialog.geometry()) << " frame " << Text(dialog.frameGeometry());
  EXPECT_EQ(dialog.width(), std::min(narrow + dialog.ExtensionAreaWidth(),
                                     available.width() - (dialog.frameGeometry().width() - dialog.width())));
  ExpectControlsInsideTheirFrames();
  // The area lies in view when the window could take its width.
  if (dialog.width() >= dialog.LayoutSize().width()) {
    EXPECT_LE(dialog.control(kExtensionGroup)->geometry().right(), dialog.scrollArea()->viewport()->width());
  }

  dialog.SetExtensionAreaShown(false);
  Settle();
  EXPECT_EQ(dialog.width(), narrow);
}

TEST_P(WindowOnScreen, AResizeGoesToTheLogPane) {
  // From the layout's own size, where every control stands at its place.
  dialog.resize(dialog.LayoutSize());
  Settle();
  QWidget* log = dialog.control(kLogPaneEdit);
  const QRect logBefore = log->geometry();
  const QRect clearBefore = dialog.control(kClearLogButton)->geometry();
  const QRect downloadBefore = dialog.control(kDownloadButton)->geometry();

  dialog.resize(dialog.LayoutSize() + QSize(100, 60));
  Settle();
  EXPECT_EQ(dialog.canvas()->size(), dialog.LayoutSize() + QSize(100, 60));
  EXPECT_EQ(log->geometry(), logBefore.adjusted(0, 0, 100, 60));
  EXPECT_EQ(dialog.control(kClearLogButton)->geometry(), clearBefore.adjusted(100, 0, 100, 60));
  EXPECT_EQ(dialog.control(kDownloadButton)->geometry(), downloadBefore);
  ExpectControlsInsideTheirFrames();

  // Smaller than the layout: the log gives up room down to its least, then
  // the window scrolls and nothing is squeezed further.
  dialog.resize(dialog.width() / 2, dialog.height() / 2);
  Settle();
  EXPECT_EQ(log->height(), log->minimumHeight());
  EXPECT_TRUE(dialog.scrollArea()->verticalScrollBar()->isVisible());
  EXPECT_TRUE(dialog.scrollArea()->horizontalScrollBar()->isVisible());
  EXPECT_EQ(dialog.control(kDownloadButton)->geometry(), downloadBefore);
  ExpectControlsInsideTheirFrames();
}

INSTANTIATE_TEST_SUITE_P(Laptops, WindowOnScreen,
                         ::testing::Values(Screen{"laptop1366_9pt", QRect(0, 0, 1366, 728), 9},
                                           Screen{"laptop1366_12pt", QRect(0, 0, 1366, 728), 12},
                                           Screen{"laptop1280_9pt", QRect(0, 0, 1280, 760), 9},
                                           Screen{"laptop1280_12pt", QRect(0, 0, 1280, 760), 12}),
                         [](const ::testing::TestParamInfo<Screen>& param) { return std::string(param.param.name); });

}  // namespace
}  // namespace corvel::app
