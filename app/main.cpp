// corvel-tool: the download tool's window.
#include <QApplication>
#include <QCommandLineParser>
#include <QCoreApplication>
#include <QMessageBox>
#include <QSettings>
#include <QStringList>
#include <QTimer>

#include <memory>
#include <string_view>

#include "app/app_icon.h"
#include "app/main_dialog.h"
#include "app/prompter.h"
#include "app/window_host.h"
#include "serial/port_list.h"
#include "sim/pty_server.h"

namespace {

// The options QApplication takes out of the command line for itself (its
// platform's too), and whether the next argument is their value.
struct QtOption {
  std::string_view name;
  bool takesValue;
};
constexpr QtOption kQtOptions[] = {
    {"platform", true}, {"platformpluginpath", true}, {"platformtheme", true}, {"plugin", true},
    {"qwindowgeometry", true}, {"qwindowtitle", true}, {"qwindowicon", true}, {"geometry", true},
    {"title", true}, {"icon", true}, {"session", true}, {"display", true}, {"name", true},
    {"style", true}, {"stylesheet", true}, {"reverse", false}, {"testability", false},
    {"widgetcount", false}, {"nograb", false}, {"dograb", false}, {"sync", false},
    {"qmljsdebugger", false},
};

// The arguments as the parser will see them once QApplication has taken out
// its own, for a first reading before there is one. Taking out more than Qt
// does costs nothing: the second reading reports what is left.
QStringList WithoutQtOptions(const QStringList& arguments) {
  QStringList kept;
  for (qsizetype i = 0; i < arguments.size(); ++i) {
    const QString& argument = arguments[i];
    bool taken = false;
    if (i > 0 && argument.startsWith(u'-')) {
      const QString word = argument.mid(argument.startsWith(QStringLiteral("--")) ? 2 : 1);
      const QString name = word.section(u'=', 0, 0);
      for (const QtOption& option : kQtOptions) {
        if (name != QLatin1String(option.name.data(), static_cast<qsizetype>(option.name.size()))) continue;
        taken = true;
        if (option.takesValue && name == word) ++i;
        break;
      }
    }
    if (!taken) kept << argument;
  }
  return kept;
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication::setOrganizationName(QStringLiteral("corvel"));
  QCoreApplication::setApplicationName(QStringLiteral("corvel-tool"));
  QCoreApplication::setApplicationVersion(QStringLiteral("1.3"));

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
  {
    // Help, the version and a wrong option need no display; a QApplication
    // aborts without one, so they are answered before it exists.
    const QCoreApplication commandLine(argc, argv);
    const QStringList arguments = WithoutQtOptions(QCoreApplication::arguments());
    // --help-all lists QApplication's own options too, so it waits for one.
    if (!parser.parse(arguments) || !parser.isSet(QStringLiteral("help-all"))) parser.process(arguments);
  }

  QApplication application(argc, argv);
  QApplication::setWindowIcon(corvel::app::AppIcon());
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

  // The language chosen in an earlier run; an unknown value keeps Chinese.
  const QString language =
      QSettings().value(QString::fromUtf8(corvel::app::MainDialog::kLanguageSetting)).toString();
  if (const auto chosen = corvel::text::ParseLanguage(language.toStdString())) corvel::text::SetLanguage(*chosen);

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
