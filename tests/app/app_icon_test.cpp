#include <QIcon>
#include <QLabel>
#include <QList>
#include <QSize>

#include <gtest/gtest.h>

#include "app/about_dialog.h"
#include "app/main_dialog.h"
#include "tests/app/scripted_chip_port.h"
#include "tests/app/scripted_prompter.h"

namespace corvel::app {
namespace {

// The icon is PNGs, so it shows without Qt's SVG plugin, which is not installed here.
TEST(AppIconTest, TheWindowAndTheAboutBoxShowTheRenderedSizes) {
  testing::ScriptedPrompter prompter;
  MainDialog dialog{prompter, [] { return QList<PortChoice>{}; },
                    std::make_unique<testing::ScriptedChipPort>()};
  const QIcon icon = dialog.windowIcon();
  ASSERT_FALSE(icon.isNull());
  const QList<QSize> sizes = icon.availableSizes();
  for (int size : {16, 24, 32, 48, 64, 128, 256}) EXPECT_TRUE(sizes.contains(QSize(size, size))) << size;

  // No parent: the about box must not borrow an icon it may not have.
  AboutDialog about;
  int pictures = 0;
  for (const QLabel* label : about.findChildren<QLabel*>()) {
    if (!label->pixmap().isNull()) ++pictures;
  }
  EXPECT_EQ(pictures, 1);
}

}  // namespace
}  // namespace corvel::app
