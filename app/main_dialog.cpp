#include "app/main_dialog.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPalette>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QScrollArea>
#include <QSettings>
#include <QVBoxLayout>

#include <algorithm>
#include <utility>

#include "app/about_dialog.h"
#include "app/app_icon.h"
#include "app/dialog_group_box.h"
#include "app/log_pane.h"
#include "app/prompter.h"
#include "app/window_geometry.h"
#include "text/number_text.h"
#include "tools/extension_options.h"
#include "text/translation.h"

namespace corvel::app {

namespace {

constexpr const char* kErasedPasswordText = "0xFFFFFFFF";

// A closed drop-down shows one line; the template's height is its list's.
constexpr int kComboHeightDlu = 12;

QString Text(const char* utf8) { return QString::fromUtf8(utf8); }

// The context menu's texts, set again when the language changes.
constexpr const char* kAboutCaption = "关于 Pellamy(&A)...";
constexpr const char* kExtensionCaption = "扩展区";
constexpr const char* kLanguageCaption = "语言";
// Each language is offered in its own words, readable whichever is shown;
// they are never translated.
constexpr const char* kChineseName = "中文";
constexpr const char* kEnglishName = "English";

}  // namespace

MainDialog::MainDialog(Prompter& prompter, PortScanner::Lister portLister, std::unique_ptr<WindowPort> port,
                       int fontPointSize)
    : prompter_(prompter),
      port_(std::move(port)),
      scanner_(std::move(portLister)),
      units_(DialogFont(fontPointSize)),
      controls_(kControlIdLimit, nullptr) {
  setWindowTitle(Text(kWindowTitle));
  setWindowIcon(AppIcon());
  setFont(DialogFont(fontPointSize));
  // The controls keep the dialog's places on a canvas; a window smaller than
  // them scrolls instead of cutting them off.
  scrollArea_ = new QScrollArea(this);
  scrollArea_->setFrameShape(QFrame::NoFrame);
  scrollArea_->setWidgetResizable(true);
  canvas_ = new QWidget;
  canvas_->setObjectName(QStringLiteral("canvas"));
  canvas_->installEventFilter(this);
  scrollArea_->setWidget(canvas_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(scrollArea_);
  BuildControls();
  log_ = std::make_unique<log::Log>(*logPane_);
  link_ = std::make_unique<link::Link>(port_->host(), *log_);
  connection_ = std::make_unique<link::Connection>(*link_);
  download_ = std::make_unique<program::Download>(*link_, *connection_);
  port_->SetLink(link_.get());
  WireHandlers();
  WireOperations();

  ScanPorts(scanner_.ScanNow());
  FillRateLists();
  auto* progress = qobject_cast<QProgressBar*>(control(kProgressBar));
  progress->setRange(0, 100);
  progress->setValue(0);

  // The rescan worker starts one second after the window opens.
  rescanStart_.setSingleShot(true);
  connect(&rescanStart_, &QTimer::timeout, this, [this] { scanner_.Start(); });
  rescanStart_.start(kRescanDelayMs);

  canvas_->setMinimumSize(MinimumLayoutSize());
  canvas_->resize(LayoutSize());
  PlaceCentred();
}

MainDialog::~MainDialog() {
  // Received bytes that are still queued must not reach the link as it goes.
  port_->SetLink(nullptr);
}

QWidget* MainDialog::control(int id) const {
  return id > 0 && id < kControlIdLimit ? controls_[static_cast<size_t>(id)] : nullptr;
}
QPushButton* MainDialog::button(int id) const { return qobject_cast<QPushButton*>(control(id)); }
QCheckBox* MainDialog::checkBox(int id) const { return qobject_cast<QCheckBox*>(control(id)); }
QComboBox* MainDialog::combo(int id) const { return qobject_cast<QComboBox*>(control(id)); }
QLineEdit* MainDialog::edit(int id) const { return qobject_cast<QLineEdit*>(control(id)); }

int MainDialog::ExtensionAreaWidth() const {
  return (kExtensionAreaWidthPx * units_.baseX() + kTemplateFontBaseX / 2) / kTemplateFontBaseX;
}

int MainDialog::NarrowWidth() const { return units_.ToPixelsX(kDialogWidthDlu) - ExtensionAreaWidth(); }

QSize MainDialog::LayoutSize() const {
  const int width = extensionShown_ ? NarrowWidth() + ExtensionAreaWidth() : NarrowWidth();
  return {width, units_.ToPixelsY(kDialogHeightDlu)};
}

QSize MainDialog::MinimumLayoutSize() const {
  const int logPane = control(kLogPaneEdit)->minimumHeight();
  const QSize full = LayoutSize();
  const int spare = std::max(0, placedLogPaneHeight_ - logPane);
  return {full.width(), full.height() - spare};
}

QRect MainDialog::AvailableArea() const {
  if (availableArea_) return *availableArea_;
  return screen()->availableGeometry();
}

void MainDialog::SetAvailableArea(const QRect& area) {
  availableArea_ = area;
  PlaceCentred();
}

QMargins MainDialog::FrameMargins() const {
  // Known once the window manager has framed the window; guessed before.
  if (isVisible()) {
    const QRect frame = frameGeometry();
    const QRect client = geometry();
    if (frame != client) {
      return {client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
              frame.bottom() - client.bottom()};
    }
  }
  return kFrameAllowance;
}

void MainDialog::PlaceCentred() {
  setGeometry(CentredWithin(LayoutSize(), AvailableArea(), FrameMargins()));
  FollowWindowSize();
}

void MainDialog::FollowWindowSize() {
  // A shown window's scroll area sizes the canvas and the resize lays it out;
  // a hidden one gets no resize events until it is shown.
  if (isVisible()) return;
  canvas_->resize(size().expandedTo(canvas_->minimumSize()));
  LayOut();
}

bool MainDialog::eventFilter(QObject* watched, QEvent* event) {
  if (watched == canvas_ && event->type() == QEvent::Resize) LayOut();
  return QWidget::eventFilter(watched, event);
}

void MainDialog::LayOut() {
  const QSize layout = LayoutSize();
  const int dw = canvas_->width() - layout.width();
  const int dh = canvas_->height() - layout.height();
  for (const Placed& item : placed_) item.widget->setGeometry(Stretched(item.rect, item.stretch, dw, dh));
}

void MainDialog::BuildControls() {
  for (const ControlEntry& entry : MainDialogControls()) {
    QWidget* widget = nullptr;
    QRect rect = units_.ToPixels(entry.x, entry.y, entry.w, entry.h);
    const QString caption = Text(Tr(entry.caption));
    switch (entry.kind) {
      case ControlKind::kGroupBox: widget = new DialogGroupBox(caption, canvas_); break;
      case ControlKind::kStatic: widget = new QLabel(caption, canvas_); break;
      case ControlKind::kEdit: widget = new QLineEdit(caption, canvas_); break;
      case ControlKind::kLogEdit:
        logPane_ = new LogPane(canvas_);
        logPane_->setMinimumHeight(units_.ToPixelsY(kMinLogPaneHeightDlu));
        placedLogPaneHeight_ = rect.height();
        widget = logPane_;
        break;
      case ControlKind::kProgress: {
        auto* bar = new QProgressBar(canvas_);
        bar->setTextVisible(false);
        widget = bar;
        break;
      }
      case ControlKind::kCheckBox: widget = new QCheckBox(caption, canvas_); break;
      case ControlKind::kPushButton: {
        auto* pushButton = new QPushButton(caption, canvas_);
        pushButton->setAutoDefault(false);
        widget = pushButton;
        break;
      }
      case ControlKind::kCombo:
      case ControlKind::kSortedCombo: {
        auto* box = new QComboBox(canvas_);
        box->setMaxVisibleItems(std::max(1, entry.h / kComboHeightDlu));
        rect.setHeight(std::max(units_.ToPixelsY(kComboHeightDlu), box->sizeHint().height()));
        widget = box;
        break;
      }
    }
    // A font taller than the template's needs taller boxes for a line of
    // text: they grow about their middle, which keeps the rows aligned.
    if (entry.kind == ControlKind::kStatic || entry.kind == ControlKind::kCheckBox ||
        entry.kind == ControlKind::kEdit || entry.kind == ControlKind::kPushButton) {
      const int needed = widget->sizeHint().height();
      if (needed > rect.height()) rect.adjust(0, -(needed - rect.height()) / 2, 0, (needed - rect.height() + 1) / 2);
    }
    placed_.push_back({widget, rect, entry.stretch});
    widget->setGeometry(rect);
    widget->setVisible(entry.visible);
    widget->setEnabled(entry.enabled);
    if (entry.kind == ControlKind::kGroupBox) widget->lower();
    if (entry.id != 0) {
      widget->setObjectName(QString::number(entry.id));
      controls_[static_cast<size_t>(entry.id)] = widget;
    }
  }

  // The password: blue on a pale rose ground.
  QLineEdit* password = edit(kPasswordEdit);
  QPalette palette = password->palette();
  palette.setColor(QPalette::Text, QColor(0, 0, 255));
  palette.setColor(QPalette::Base, QColor(255, 250, 250));
  password->setPalette(palette);

  QComboBox* options = combo(kOptionCombo);
  for (const tools::ExtensionOptionEntry& option : tools::ExtensionOptions()) options->addItem(Text(Tr(option.label)));
  options->setCurrentIndex(-1);
  for (const char* page : kOtpPages) combo(kPageCombo)->addItem(Text(page));
  combo(kPageCombo)->setCurrentIndex(-1);
}

void MainDialog::FillRateLists() {
  QComboBox* baud = combo(kBaudCombo);
  baud->addItem(Text(kCustomRateItem));
  for (const char* rate : kBaudRates) baud->addItem(Text(rate));
  baud->setCurrentIndex(1);
  QComboBox* speedUp = combo(kSpeedUpCombo);
  for (const char* rate : kSpeedUpRates) speedUp->addItem(Text(rate));
  speedUp->setCurrentIndex(kSpeedUpDefaultIndex);
  edit(kPasswordEdit)->setText(Text(kErasedPasswordText));
}

void MainDialog::WireHandlers() {
  aboutAction_ = new QAction(Text(Tr(kAboutCaption)), this);
  connect(aboutAction_, &QAction::triggered, this, &MainDialog::ShowAbout);
  extensionAction_ = new QAction(Text(Tr(kExtensionCaption)), this);
  extensionAction_->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_E));
  extensionAction_->setShortcutContext(Qt::WindowShortcut);
  extensionAction_->setCheckable(true);
  connect(extensionAction_, &QAction::triggered, this, [this](bool on) { SetExtensionAreaShown(on); });
  addAction(extensionAction_);

  languageMenu_ = new QMenu(Text(Tr(kLanguageCaption)), this);
  auto* languages = new QActionGroup(this);
  chineseAction_ = languageMenu_->addAction(Text(kChineseName));
  englishAction_ = languageMenu_->addAction(Text(kEnglishName));
  for (const auto& [action, language] :
       {std::pair{chineseAction_, text::Language::kChinese}, std::pair{englishAction_, text::Language::kEnglish}}) {
    action->setCheckable(true);
    languages->addAction(action);
    connect(action, &QAction::triggered, this, [this, language = language] {
      SetLanguage(language);
      QSettings().setValue(QString::fromUtf8(kLanguageSetting), QString::fromUtf8(text::LanguageName(language)));
    });
  }
  languageAction(text::CurrentLanguage())->setChecked(true);

  connect(&scanner_, &PortScanner::PortsFound, this, [this](const QList<PortChoice>& ports) { ScanPorts(ports); });
  connect(combo(kBaudCombo), &QComboBox::activated, this, &MainDialog::OnBaudSelChange);
  connect(combo(kOptionCombo), &QComboBox::activated, this, &MainDialog::OnOptionChanged);
  connect(checkBox(kMoreFirmwareCheck), &QCheckBox::clicked, this, &MainDialog::OnMoreFirmware);
  connect(checkBox(kSpeedUpCheck), &QCheckBox::clicked, this, &MainDialog::OnSpeedUp);
  connect(checkBox(kFrameEchoCheck), &QCheckBox::toggled, this, [this](bool on) { log_->SetFrameEcho(on); });
  for (int id : {kSelectAppButton, kSelectStackButton, kSelectBootButton, kSelectUserDataButton}) {
    connect(button(id), &QPushButton::clicked, this, [this, id] { OnSelectFile(id); });
  }
  connect(button(kClearLogButton), &QPushButton::clicked, this, [this] { log_->ClearLog(); });
}

void MainDialog::SetExtensionAreaShown(bool shown) {
  if (shown == extensionShown_) return;
  // Room the user gave the window beyond its layout stays with it.
  const int extra = std::max(0, width() - LayoutSize().width());
  extensionShown_ = shown;
  extensionAction_->setChecked(shown);
  for (int id : kExtensionAreaIds) control(id)->setVisible(shown);
  canvas_->setMinimumSize(MinimumLayoutSize());
  if (!isMaximized() && !isFullScreen()) {
    QRect client = geometry();
    client.setWidth(LayoutSize().width() + extra);
    setGeometry(KeptWithin(client, AvailableArea(), FrameMargins()));
  }
  FollowWindowSize();
  LayOut();
}

QAction* MainDialog::languageAction(text::Language language) const {
  return language == text::Language::kEnglish ? englishAction_ : chineseAction_;
}

void MainDialog::SetLanguage(text::Language language) {
  text::SetLanguage(language);
  languageAction(language)->setChecked(true);
  Recaption();
}

void MainDialog::Recaption() {
  const auto entries = MainDialogControls();
  for (size_t i = 0; i < entries.size(); ++i) {
    const QString caption = Text(Tr(entries[i].caption));
    QWidget* widget = placed_[i].widget;
    switch (entries[i].kind) {
      case ControlKind::kGroupBox: static_cast<DialogGroupBox*>(widget)->setTitle(caption); break;
      case ControlKind::kStatic: static_cast<QLabel*>(widget)->setText(caption); break;
      case ControlKind::kCheckBox:
      case ControlKind::kPushButton: static_cast<QAbstractButton*>(widget)->setText(caption); break;
      // What an edit or a list holds is the user's.
      case ControlKind::kEdit:
      case ControlKind::kLogEdit:
      case ControlKind::kProgress:
      case ControlKind::kCombo:
      case ControlKind::kSortedCombo: break;
    }
  }
  QComboBox* options = combo(kOptionCombo);
  for (const tools::ExtensionOptionEntry& option : tools::ExtensionOptions()) {
    options->setItemText(static_cast<int>(&option - tools::ExtensionOptions().data()), Text(Tr(option.label)));
  }
  ShowStateCaptions();
  aboutAction_->setText(Text(Tr(kAboutCaption)));
  extensionAction_->setText(Text(Tr(kExtensionCaption)));
  languageMenu_->setTitle(Text(Tr(kLanguageCaption)));
}

void MainDialog::ShowAbout() {
  AboutDialog about(this);
  about.exec();
}

void MainDialog::contextMenuEvent(QContextMenuEvent* event) {
  QMenu menu(this);
  menu.addAction(aboutAction_);
  menu.addSeparator();
  menu.addAction(extensionAction_);
  menu.addSeparator();
  menu.addMenu(languageMenu_);
  menu.exec(event->globalPos());
}

void MainDialog::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Escape: close(); return;
    // Enter never ends the program: a stray press would drop the port and
    // the log in the middle of work.
    case Qt::Key_Return:
    case Qt::Key_Enter: event->accept(); return;
    default: QWidget::keyPressEvent(event);
  }
}


void MainDialog::ScanPorts(const QList<PortChoice>& found) {
  QComboBox* ports = combo(kPortCombo);
  const auto isFound = [&found](const QString& path) {
    return std::any_of(found.begin(), found.end(), [&path](const PortChoice& port) { return port.path == path; });
  };
  // Items are added and removed one by one, so a selected port that is still
  // there stays selected. Ports are told apart by path, whatever they show.
  const QString selectedPort = ports->currentIndex() >= 0 ? ports->currentData().toString() : QString();
  for (int i = ports->count() - 1; i >= 0; --i) {
    if (!isFound(ports->itemData(i).toString())) ports->removeItem(i);
  }
  // A removed selection leaves nothing selected, not its neighbour.
  if (!selectedPort.isEmpty() && !isFound(selectedPort)) ports->setCurrentIndex(-1);
  for (const PortChoice& port : found) {
    // Another adapter may have taken the name between two scans.
    if (const int known = ports->findData(port.path); known >= 0) {
      if (ports->itemText(known) != port.DisplayText()) ports->setItemText(known, port.DisplayText());
      continue;
    }
    int at = 0;
    const auto before = [&](int i) {
      return QString::compare(ports->itemData(i).toString(), port.path, Qt::CaseInsensitive) < 0;
    };
    while (at < ports->count() && before(at)) ++at;
    const int selected = ports->currentIndex();
    ports->insertItem(at, port.DisplayText(), port.path);
    if (selected < 0) ports->setCurrentIndex(-1);
  }
}

bool MainDialog::ReadBaudRate() {
  const int index = combo(kBaudCombo)->currentIndex();
  if (index < 0) {
    prompter_.ShowMessage(this, QString::fromUtf8(Tr("请选择波特率")));
    return false;
  }
  if (index == 0) {
    // Leading blanks, then decimal digits up to the first other character.
    currentBaudRate_ = text::ParseUnsigned(customRateText_.toStdString(), 10);
    return true;
  }
  currentBaudRate_ = combo(kBaudCombo)->itemText(index).toUInt();
  return true;
}

void MainDialog::OnBaudSelChange(int index) {
  if (index != 0) return;
  customRateText_ = prompter_.AskCustomBaudRate(this);
  QComboBox* baud = combo(kBaudCombo);
  baud->setItemText(0, customRateText_.isEmpty() ? Text(kCustomRateItem) : customRateText_);
  baud->setCurrentIndex(0);
}

void MainDialog::OnMoreFirmware() {
  const bool shown = checkBox(kMoreFirmwareCheck)->isChecked();
  for (int id : kMoreFirmwareIds) control(id)->setVisible(shown);
}

void MainDialog::OnSpeedUp() { combo(kSpeedUpCombo)->setVisible(checkBox(kSpeedUpCheck)->isChecked()); }

void MainDialog::OnSelectFile(int buttonId) {
  struct Row {
    int button;
    int pathEdit;
    QString MainDialog::*path;
    const OpenFileKind* files;
  };
  static const Row kRows[] = {
      {kSelectAppButton, kAppPathEdit, &MainDialog::appPath_, &kHexFiles},
      {kSelectStackButton, kStackPathEdit, &MainDialog::stackPath_, &kHexFiles},
      {kSelectBootButton, kBootPathEdit, &MainDialog::bootPath_, &kHexFiles},
      {kSelectUserDataButton, kUserDataPathEdit, &MainDialog::userDataPath_, &kConfigFiles},
  };
  for (const Row& row : kRows) {
    if (row.button != buttonId) continue;
    const QString chosen = prompter_.AskOpenFile(this, *row.files);
    if (chosen.isEmpty()) return;
    this->*row.path = chosen;
    edit(row.pathEdit)->setText(chosen);
    return;
  }
}

void MainDialog::OnOptionChanged(int index) {
  const tools::ExtensionOptionEntry* option = tools::FindExtensionOption(index);
  if (option == nullptr) return;
  using tools::ExtensionBox;
  control(kPageCombo)->setEnabled(option->boxes.Has(ExtensionBox::kPage));
  control(kAddressEdit)->setEnabled(option->boxes.Has(ExtensionBox::kAddress));
  control(kDataEdit)->setEnabled(option->boxes.Has(ExtensionBox::kData));
  control(kLengthEdit)->setEnabled(option->boxes.Has(ExtensionBox::kLength));
  // The path box only shows what was loaded.
  control(kLoadPathEdit)->setEnabled(false);
  control(kLoadFileButton)->setEnabled(option->boxes.Has(ExtensionBox::kLoadFile));
}

}  // namespace corvel::app
