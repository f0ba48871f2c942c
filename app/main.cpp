// corvel-tool: the download tool's window.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QTimer>

#include "app/main_dialog.h"
#include "app/prompter.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("corvel-tool"));
  QApplication::setApplicationVersion(QStringLiteral("1.3"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/corvel/icon.svg")));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Download tool for Corvel BLE chips"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                      QStringLiteral("Save a picture of the window to FILE and quit."),
                                      QStringLiteral("FILE"));
  parser.addOption(screenshot);
  parser.process(application);

  corvel::app::WidgetPrompter prompter;
  corvel::app::MainDialog dialog(prompter, [] { return std::vector<std::string>{}; });
  dialog.show();
  if (parser.isSet(screenshot)) {
    const QString file = parser.value(screenshot);
    QTimer::singleShot(500, &dialog, [&dialog, file] {
      const bool saved = dialog.grab().save(file);
      QApplication::exit(saved ? 0 : 1);
    });
  }
  return QApplication::exec();
}
