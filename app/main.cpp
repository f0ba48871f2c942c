// corvel-tool: the download tool's window.
#include <QApplication>
#include <QCommandLineParser>
#include <QIcon>
#include <QMessageBox>
#include <QTimer>

#include <memory>

#include "app/main_dialog.h"
#include "app/prompter.h"
#include "app/window_host.h"
#include "serial/port_list.h"
#include "sim/pty_server.h"

int main(int argc, char** argv) {
  QApplication application(argc, argv);
  QApplication::setApplicationName(QStringLiteral("corvel-tool"));
  QApplication::setApplicationVersion(QStringLiteral("1.3"));
  QApplication::setWindowIcon(QIcon(QStringLiteral(":/corvel/icon.svg")));

  QCommandLineParser parser;
  parser.setApplicationDescription(QStringLiteral("Download tool for Corvel BLE chips"));
  parser.addHelpOption();
  parser.addVersionOption();
  const QCommandLineOption sim(QStringLiteral("sim"),
                               QStringLiteral("Start a simulated chip in the program and list it as a port."));
  const QCommandLineOption screenshot(QStringLiteral("screenshot"),
                                      QStringLiteral("Save a picture of the window to FILE and quit."),
                                      QStringLiteral("FILE"));
  parser.addOption(sim);
  parser.addOption(screenshot);
  parser.process(application);

  // The simulated chip serves a pseudo-terminal; its device is listed with
  // the system's ports.
  std::unique_ptr<corvel::sim::PtyServer> simulator;
  std::string simPath;
  if (parser.isSet(sim)) {
    simulator = std::make_unique<corvel::sim::PtyServer>();
    auto started = simulator->Start(corvel::sim::SimOptions{});
    if (!started) {
      QMessageBox::critical(nullptr, QStringLiteral("corvel-tool"),
                            QStringLiteral("The simulated chip did not start: ") +
                                QString::fromStdString(started.error().text));
      return 1;
    }
    simPath = *started;
  }
  auto lister = [simPath] {
    QList<corvel::app::PortChoice> ports;
    for (const corvel::serial::PortDetails& port : corvel::serial::ListPortDetails()) {
      ports.push_back({QString::fromStdString(port.path), QString::fromStdString(port.product)});
    }
    if (!simPath.empty()) ports.push_back(corvel::app::SimulatedChipChoice(QString::fromStdString(simPath)));
    return ports;
  };

  corvel::app::WidgetPrompter prompter;
  int result = 0;
  {
    corvel::app::MainDialog dialog(prompter, lister, std::make_unique<corvel::app::WindowHost>());
    dialog.show();
    if (parser.isSet(screenshot)) {
      const QString file = parser.value(screenshot);
      QTimer::singleShot(500, &dialog, [&dialog, file] { QApplication::exit(dialog.grab().save(file) ? 0 : 1); });
    }
    result = QApplication::exec();
  }
  if (simulator) (void)simulator->Stop();
  return result;
}
