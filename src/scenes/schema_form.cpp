#include "scenes/schema_form.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>
#include <QStyle>
#include <QToolButton>

#include "panel/main_form.h"
#include "persist/form_state.h"
#include "platform/executable_path.h"
#include "rxview/rx_draw_form.h"
#include "scenes/scena_form.h"
#include "widgets/message_form.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/status_bar.h"


namespace {

const QColor kNameColour(0, 0, 0);
const QColor kSelectedNameColour(255, 0, 0);

void setTextColour(QWidget* w, const QColor& c) {
  QPalette p = w->palette();
  p.setColor(QPalette::Text, c);
  w->setPalette(p);
}

// Texts are replaced only when they differ, so that an unchanged text raises no change reaction.
void setTextIfChanged(QLineEdit* edit, const QString& text) {
  if (edit && edit->text() != text) edit->setText(text);
}

QFont boldFont(const QWidget* w) {
  QFont f = w->font();
  f.setBold(true);
  return f;
}

// Layout of the scene rows: the radio group's items F1-F9 on the left, a name field and a
// record button beside each. Pixels of the 456 x 335 client area.
constexpr int kGroupX = 4;
constexpr int kGroupY = 62;
constexpr int kGroupW = 64;
constexpr int kFirstRowY = kGroupY + 22;
constexpr int kRowH = 25;
constexpr int kNameX = 72;
constexpr int kNameW = 346;
constexpr int kRecordX = 424;

}  // namespace

TSchemaForm::TSchemaForm(TMainForm* panel, TRxDrawForm* rx, QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      panel_(panel),
      rx_(rx) {
  setObjectName(QStringLiteral("SchemaForm"));
  setWindowTitle(QStringLiteral("Управление сценариями"));
  setFixedSize(456, 335);  // a fixed border: the stored size is never read back
  QFont f = font();
  f.setPointSize(8);  // laid out for an 8-point font, like the panel
  setFont(f);
  createControls();

  for (FileDialogRequest* d : {&SOpenDialog, &SSaveDialog}) {
    d->filter = QStringLiteral("*.qzc (*.qzc);;*.* (*)");
    d->defaultName = QStringLiteral("NoNameScenes.qzc");
    d->defaultSuffix = QStringLiteral("qzc");
  }
  SOpenDialog.title = QStringLiteral("Загрузить сценарий из файла ...");
  SSaveDialog.title = QStringLiteral("Сохранить сценарий в файл ...");
  FormCreate();
}

TSchemaForm::~TSchemaForm() = default;

QString TSchemaForm::defaultScenesFile() {
  return scenesFileName();
}

void TSchemaForm::createControls() {
  const auto tool = [this](const QString& name, QStyle::StandardPixmap icon, const QString& hint, int x,
                           int y) {
    auto* b = new QToolButton(this);
    b->setObjectName(name);
    b->setIcon(style()->standardIcon(icon));
    b->setToolTip(hint);
    b->setAutoRaise(true);
    b->setGeometry(x, y, 26, 24);
    return b;
  };
  OpenFileSpeedButton = tool(QStringLiteral("OpenFileSpeedButton"), QStyle::SP_DialogOpenButton,
                             QStringLiteral("Загрузить сценарий из файла"), 4, 4);
  SaveFileSpeedButton = tool(QStringLiteral("SaveFileSpeedButton"), QStyle::SP_DialogSaveButton,
                             QStringLiteral("Сохранить сценарий в файл"), 32, 4);
  HelpBitBtn =
      new QPushButton(style()->standardIcon(QStyle::SP_DialogHelpButton), QStringLiteral("Помощь"), this);
  HelpBitBtn->setObjectName(QStringLiteral("HelpBitBtn"));
  HelpBitBtn->setAutoDefault(false);
  HelpBitBtn->setGeometry(356, 3, 96, 26);

  // The stored controls in the order of this window's section: the comment, the selection,
  // then the names. The order matters on reading: a selection read from a file applies its
  // scene first, and the names read after it have the last word in the panel's comment.
  CommentEdit = new QLineEdit(QStringLiteral("Комментарии к сценарию. Например: ПОВЕРКА ЭГ4721"), this);
  CommentEdit->setObjectName(QStringLiteral("CommentEdit"));
  CommentEdit->setFont(boldFont(CommentEdit));
  CommentEdit->setGeometry(4, 34, 448, 22);

  ScenaRadioGroup = new TRadioGroup(this);
  ScenaRadioGroup->setObjectName(QStringLiteral("ScenaRadioGroup"));
  ScenaRadioGroup->setTitle(QStringLiteral("Сцены"));
  ScenaRadioGroup->setFont(boldFont(ScenaRadioGroup));
  QStringList items;
  for (int n = 1; n <= kSceneCount; ++n) items << QStringLiteral("F%1").arg(n);
  ScenaRadioGroup->setItems(items);
  ScenaRadioGroup->setItemIndex(0);
  ScenaRadioGroup->setGeometry(kGroupX, kGroupY, kGroupW, kRowH * kSceneCount + 28);

  for (int i = 0; i < kSceneCount; ++i) {
    auto* e = new QLineEdit(QStringLiteral("Наименование сцены"), this);
    e->setObjectName(QStringLiteral("Edit%1").arg(i + 1));
    e->setGeometry(kNameX, kFirstRowY + i * kRowH, kNameW, 22);
    connect(e, &QLineEdit::textChanged, this, [this, e] { Edit1Change(e); });
    Edit[size_t(i)] = e;
  }
  for (int i = 0; i < kSceneCount; ++i) {
    QToolButton* b =
        tool(QStringLiteral("SpeedButton%1").arg(i + 1), QStyle::SP_DialogApplyButton,
             QStringLiteral("Записать сцену %1").arg(i + 1), kRecordX, kFirstRowY + i * kRowH - 1);
    connect(b, &QToolButton::clicked, this, [this, i] { AskCaptureScene(i + 1); });
    SpeedButton[size_t(i)] = b;
  }

  FooterStatusBar = new TStatusBar(this);
  FooterStatusBar->setObjectName(QStringLiteral("FooterStatusBar"));
  FooterStatusBar->addPanel(150, QStringLiteral("1"));
  FooterStatusBar->addPanel(150, QStringLiteral("  --"));
  FooterStatusBar->addPanel(50, QStringLiteral("  --"));
  FooterStatusBar->setGeometry(0, height() - FooterStatusBar->height(), width(), FooterStatusBar->height());

  connect(ScenaRadioGroup, &TRadioGroup::clicked, this, &TSchemaForm::ScenaRadioGroupClick);
  connect(OpenFileSpeedButton, &QToolButton::clicked, this, &TSchemaForm::OpenFileSpeedButtonClick);
  connect(SaveFileSpeedButton, &QToolButton::clicked, this, &TSchemaForm::SaveFileSpeedButtonClick);
  connect(HelpBitBtn, &QPushButton::clicked, this, &TSchemaForm::HelpBitBtnClick);
}

void TSchemaForm::FormCreate() {
  // Right of the control panel with a 2-pixel gap, the two bottom edges level. A position
  // read from a file below replaces it.
  if (panel_) {
    const QRect panel = panel_->frameGeometry();
    move(panel.x() + panel.width() + 2, panel.y() + panel.height() - frameGeometry().height());
  }
  TMessageForm* message = panel_ ? panel_->messageWindow() : nullptr;
  const QString folder = fileDialogFolder();
  SOpenDialog.initialFolder = folder;
  SSaveDialog.initialFolder = folder;

  if (message) {
    message->ShowMessageText(QStringLiteral("Чтение сценария из файла Scenes.ini"));
    message->showAndExpose();  // on screen before the reading blocks the main thread
  }
  // The scene pages do not exist yet: a selection read here highlights a name and applies
  // nothing. A float error stops this section only; the scenes are created all the same.
  const QString state = stateFile ? stateFile() : stateFileForReading();
  if (QFileInfo::exists(state)) LoadFormState(state, this);

  for (int i = 0; i < kSceneCount; ++i) scenes_[size_t(i)] = new TScenaForm(this, i + 1);

  const QString scenes = scenesFile ? scenesFile() : scenesFileForReading();
  if (QFileInfo::exists(scenes)) LoadScenario(scenes);
  if (message) message->hide();
  ScenaRadioGroupClick();
}

// ---- Scenario file --------------------------------------------------------------------------

bool TSchemaForm::LoadScenario(const QString& path) {
  if (!QFileInfo::exists(path)) return true;
  // This window first, as if edited: changed names reach their scenes and the panel's comment,
  // a changed selection applies its scene (with the scenes' old contents), and the window
  // shows or hides as the file says.
  if (!LoadFormState(path, this)) return false;
  for (TScenaForm* s : scenes_)
    if (!LoadFormState(path, s)) return false;
  for (int i = 0; i < kSceneCount; ++i)
    if (scenes_[size_t(i)]) Edit[size_t(i)]->setText(scenes_[size_t(i)]->CommentEdit->text());
  // A change of selection runs the selection behaviour by itself; it runs once more here in
  // any case, so scene 1 is applied at least once.
  ScenaRadioGroup->setItemIndex(0);
  ScenaRadioGroupClick();
  return true;
}

bool TSchemaForm::SaveScenario(const QString& path) {
  // One read and one write of the file for all ten sections, and one error box at most.
  QList<QWidget*> windows{this};
  for (TScenaForm* s : scenes_) windows.append(s);
  return SaveFormStates(path, windows);
}

bool TSchemaForm::StoreScenesOnExit() {
  const bool written = SaveScenario(scenesFile ? scenesFile() : defaultScenesFile());
  for (TScenaForm* s : scenes_)
    if (s) s->close();
  return written;
}

TScenaForm* TSchemaForm::scene(int number) const {
  return number >= 1 && number <= kSceneCount ? scenes_[size_t(number - 1)] : nullptr;
}

// ---- Apply and capture ----------------------------------------------------------------------

void TSchemaForm::copyGroup(SceneGroup group, TScenaForm* scene, bool intoScene) {
  const std::vector<QPointer<QWidget>>& live = live_.bind(panel_, rx_);
  const std::vector<SceneField>& fields = sceneFields();
  for (size_t i = 0; i < fields.size(); ++i) {
    if (fields[i].group != group || !live[i]) continue;
    QWidget* own = scene->field(int(i));
    if (intoScene)
      copyControlValue(live[i], own);
    else
      copyControlValue(own, live[i]);
  }
}

void TSchemaForm::ApplyScene(TScenaForm* scene) {
  if (!scene) return;
  TMainForm* panel = panel_;
  if (panel) {
    panel->setWindowTitle(CommentEdit->text() + u' ' + scene->windowTitle());
    setTextIfChanged(panel->CommentEdit, scene->CommentEdit->text());
  }
  // The order is part of the result: the panel's reactions run while values arrive, and the
  // calibration box, last of a channel, may turn the other channel off. Channel 1 before
  // channel 2, each page index before its fields; the page-change reactions, which showing a
  // page from code does not run, explicitly after each channel.
  copyGroup(SceneGroup::Channel1, scene, false);
  if (panel) panel->Ch1_PageControlChange();
  copyGroup(SceneGroup::Channel2, scene, false);
  if (panel) {
    panel->Ch2_PageControlChange();
    // The copy runs a calibration box's reaction only when the box changes. A scene applied
    // over itself (start-up and scene requests apply twice), or one from a file with channel 1
    // calibrating and channel 2 on a mode page, leaves the other channel on its mode page:
    // the reaction once more turns it off and hides its pages.
    for (int c = 0; c < 2; ++c) {
      const ChannelControls& other = panel->ch[size_t(1 - c)];
      if (panel->ch[size_t(c)].mode[ModeSine].calibration->isChecked() &&
          (other.pages->activePageIndex() != ModeOff || other.pages->isVisibleTo(panel)))
        c == 0 ? panel->Ch1S_RF_To_Ch2_CheckBoxClick() : panel->Ch2S_RF_To_Ch1_CheckBoxClick();
    }
  }
  copyGroup(SceneGroup::Sync, scene, false);
  if (panel) {
    panel->SyncPageControlChange();
    panel->SyncLevelPBSpinEditChange();  // the panel's slider follows the level field
  }
  copyGroup(SceneGroup::Input, scene, false);
  if (rx_) rx_->RangeRadioGroupClick();  // the range code the packet carries
}

void TSchemaForm::CaptureScene(TScenaForm* scene) {
  if (!scene) return;
  // The scene keeps its name and its level slider; a scene has no reactions to run.
  for (SceneGroup g : {SceneGroup::Channel1, SceneGroup::Channel2, SceneGroup::Sync, SceneGroup::Input})
    copyGroup(g, scene, true);
}

void TSchemaForm::AskCaptureScene(int n) {
  const QString text = QStringLiteral("Записать действующие настройки \rсинтезатора в сцену № ") +
                       QString::number(n) + QStringLiteral(" ?");
  if (dialogs().informationYesNo(this, QString(), text)) CaptureScene(scene(n));
}

// ---- Selection, names, requests -------------------------------------------------------------

void TSchemaForm::ScenaRadioGroupClick() {
  for (QLineEdit* e : Edit) setTextColour(e, kNameColour);
  const int index = ScenaRadioGroup->itemIndex();
  if (index < 0 || index >= kSceneCount) return;
  setTextColour(Edit[size_t(index)], kSelectedNameColour);
  ApplyScene(scenes_[size_t(index)]);
}

void TSchemaForm::Edit1Change(QObject* origin) {
  const auto* edit = qobject_cast<QLineEdit*>(origin);
  if (!edit) return;
  for (int n = 1; n <= kSceneCount; ++n)
    if (edit->objectName() == QStringLiteral("Edit%1").arg(n) && scenes_[size_t(n - 1)])
      scenes_[size_t(n - 1)]->CommentEdit->setText(edit->text());
  // Also before the scenes exist: the panel's comment shows the name changed last.
  if (panel_) setTextIfChanged(panel_->CommentEdit, edit->text());
}

void TSchemaForm::SceneRequest(std::uint8_t request) {
  setStatusText(QStringLiteral(" Запрос ") +
                QStringLiteral("%1").arg(request, 2, 16, QLatin1Char('0')).toUpper() + u'h');
  // A request acts once, on its first report after a report of 0. The radio group stops at
  // its last item, so 10 selects scene 9; 11-255 never act and, like any non-zero value,
  // block the next request until a 0 is reported.
  if (LastSceneRequest == 0 && request >= 1 && request <= 10) {
    ScenaRadioGroup->setItemIndex(request - 1);  // a change runs the selection behaviour
    ApplyScene(scene(ScenaRadioGroup->itemIndex() + 1));
  }
  LastSceneRequest = request;
}

void TSchemaForm::setStatusText(const QString& text) { FooterStatusBar->setPanelText(0, text); }

QString TSchemaForm::statusText() const { return FooterStatusBar->panelText(0); }

// ---- Buttons --------------------------------------------------------------------------------

void TSchemaForm::OpenFileSpeedButtonClick() {
  const QString chosen = dialogs().openFile(this, SOpenDialog);
  if (chosen.isEmpty()) return;
  const QString full = QFileInfo(chosen).absoluteFilePath();
  SOpenDialog.defaultName = full;  // the dialog proposes the last file chosen
  // The title follows the choice even when no such file exists, but not after a load that a
  // damaged float stopped.
  if (LoadScenario(full)) setWindowTitle(full);
}

void TSchemaForm::SaveFileSpeedButtonClick() {
  const QString chosen = dialogs().saveFile(this, SSaveDialog);
  if (chosen.isEmpty()) return;
  const QString full = QFileInfo(chosen).absoluteFilePath();
  SSaveDialog.defaultName = full;
  if (SaveScenario(full)) setWindowTitle(full);
}

void TSchemaForm::HelpBitBtnClick() {
  dialogs().information(this, QString(),
                        QStringLiteral("Извините, справочная система еще не разработана.\r"
                                       "Читайте руководство по эксплуатации QZ418.\r"
                                       "В принципе должно быть и так все понятно."));
}
