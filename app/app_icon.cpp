#include "app/app_icon.h"

#include <QDir>

namespace corvel::app {

QIcon AppIcon() {
  // One folder per size ("16x16/corvel-tool.png"), the layout of an icon
  // theme, so the list of sizes lives in the build alone.
  const QDir sizes(QStringLiteral(":/corvel/icons"));
  QIcon icon;
  for (const QString& size : sizes.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
    icon.addFile(sizes.filePath(size + QStringLiteral("/corvel-tool.png")));
  }
  return icon;
}

}  // namespace corvel::app
