#include "app/about_dialog.h"

#include <QLabel>
#include <QPushButton>

#include "app/app_icon.h"
#include "app/control_table.h"
#include "app/dialog_units.h"
#include "text/translation.h"

namespace corvel::app {

AboutDialog::AboutDialog(QWidget* parent) : QDialog(parent) {
  setWindowTitle(QString::fromUtf8(Tr("关于 Pellamy")));
  setFont(DialogFont(kFontPointSize));
  const DialogUnits units(font());
  setFixedSize(units.ToPixelsX(235), units.ToPixelsY(55));

  auto* icon = new QLabel(this);
  icon->setPixmap(AppIcon().pixmap(32, 32));
  icon->move(units.ToPixelsX(11), units.ToPixelsY(17));
  icon->resize(32, 32);
  auto* text = new QLabel(QString::fromUtf8(Tr("Pellamy 1.0 版")), this);
  text->move(units.ToPixelsX(40), units.ToPixelsY(10));
  text->adjustSize();
  auto* ok = new QPushButton(QString::fromUtf8(Tr("确定")), this);
  ok->setObjectName(QStringLiteral("1"));
  ok->setGeometry(units.ToPixels(178, 7, 50, 14));
  ok->setDefault(true);
  connect(ok, &QPushButton::clicked, this, &QDialog::accept);
}

}  // namespace corvel::app
