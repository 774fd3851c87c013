// qz418-label-check: the real program (the same start-up as qz418) with an inspector that
// runs once the windows are up. It shows every window, optionally saves a picture of each
// (window frame included, taken from the screen, so run it under a window manager), and
// then checks that every caption fits: the text of each label, check box, radio button,
// group box title and push button must lie inside its control and inside every control
// that contains it, and no two visible texts of one window may overlap. Every page of
// every page control, and each check box of the control panel toggled once, is looked at,
// so notices that appear only in some states are checked too.
//
// Exit status: 0 all captions fit, 1 some do not (each is listed on stdout), 2 the
// program could not be inspected. Run it from a copy in a scratch folder: its state file
// is written beside it at the end, as the program's is.
//
//   qz418-label-check [--shots DIR] [--prefix TEXT] [--settle MS]

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QGroupBox>
#include <QLabel>
#include <QMouseEvent>
#include <QPixmap>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QSet>
#include <QStackedWidget>
#include <QStyle>
#include <QStyleOptionButton>
#include <QStyleOptionGroupBox>
#include <QTabBar>
#include <QTabWidget>
#include <QTextStream>
#include <QTimer>
#include <QToolButton>
#include <QWindow>
#include <cstdio>
#include <cstring>
#include <functional>
#include <vector>

#include "panel/main_form.h"
#include "widgets/message_form.h"
#include "shell/startup.h"

namespace {

struct Options {
  QString shotDir;      // empty: no pictures
  QString prefix;       // prepended to every picture's file name
  int settleMs = 1500;  // time for the link to come up and the windows to be drawn
};
Options options;
int problems = 0;
bool inspected = false;

QTextStream& out() {
  static QTextStream s(stdout);
  return s;
}

// "MainForm/Ch1GroupBox/…/name": unnamed controls are shown by class.
QString pathOf(const QWidget* w) {
  QStringList parts;
  for (const QWidget* p = w; p; p = p->isWindow() ? nullptr : p->parentWidget())
    parts.prepend(p->objectName().isEmpty() ? QString::fromLatin1(p->metaObject()->className())
                                            : p->objectName());
  return parts.join(QLatin1Char('/'));
}

// The rectangle the text of a control occupies, in the control's coordinates; empty when
// the control shows no text of its own. `room` receives the part of the control the text
// may use.
QRect textRect(QWidget* w, QRect* room) {
  const QFontMetrics fm = w->fontMetrics();
  auto place = [&](const QString& text, const QRect& area, Qt::Alignment align, int flags = 0) {
    *room = area;
    const QSize size = fm.size(Qt::TextShowMnemonic | flags, text);
    return QStyle::alignedRect(w->layoutDirection(), align, size, area);
  };
  if (auto* l = qobject_cast<QLabel*>(w)) {
    if (l->text().isEmpty() || l->textFormat() == Qt::RichText || Qt::mightBeRichText(l->text())) return {};
    QRect area = l->contentsRect().adjusted(l->margin(), l->margin(), -l->margin(), -l->margin());
    if (l->indent() > 0) {
      const Qt::Alignment a = l->alignment();
      if (a & Qt::AlignLeft) area.setLeft(area.left() + l->indent());
      if (a & Qt::AlignRight) area.setRight(area.right() - l->indent());
      if (a & Qt::AlignTop) area.setTop(area.top() + l->indent());
      if (a & Qt::AlignBottom) area.setBottom(area.bottom() - l->indent());
    }
    if (l->wordWrap()) {
      *room = area;
      const QRect need = fm.boundingRect(area.left(), area.top(), area.width(), 100000,
                                         Qt::TextWordWrap | int(l->alignment()), l->text());
      return QStyle::alignedRect(w->layoutDirection(), l->alignment(), need.size(), area);
    }
    return place(l->text(), area, l->alignment());
  }
  if (auto* b = qobject_cast<QCheckBox*>(w)) {
    if (b->text().isEmpty()) return {};
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    const QRect area = b->style()->subElementRect(QStyle::SE_CheckBoxContents, &opt, b);
    return place(b->text(), area, Qt::AlignLeft | Qt::AlignVCenter);
  }
  if (auto* b = qobject_cast<QRadioButton*>(w)) {
    if (b->text().isEmpty()) return {};
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    const QRect area = b->style()->subElementRect(QStyle::SE_RadioButtonContents, &opt, b);
    return place(b->text(), area, Qt::AlignLeft | Qt::AlignVCenter);
  }
  if (auto* b = qobject_cast<QPushButton*>(w)) {
    if (b->text().isEmpty()) return {};
    QStyleOptionButton opt;
    opt.initFrom(b);
    opt.text = b->text();
    opt.icon = b->icon();
    opt.iconSize = b->iconSize();
    QRect area = b->style()->subElementRect(QStyle::SE_PushButtonContents, &opt, b);
    if (!b->icon().isNull()) area.setLeft(area.left() + b->iconSize().width() + 4);
    return place(b->text(), area, Qt::AlignCenter);
  }
  if (auto* b = qobject_cast<QToolButton*>(w)) {
    if (b->text().isEmpty() || b->toolButtonStyle() == Qt::ToolButtonIconOnly) return {};
    if (!b->icon().isNull() && b->toolButtonStyle() != Qt::ToolButtonTextOnly) return {};
    const int frame = b->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, b);
    return place(b->text(), b->rect().adjusted(frame, frame, -frame, -frame), Qt::AlignCenter);
  }
  if (auto* g = qobject_cast<QGroupBox*>(w)) {
    if (g->title().isEmpty()) return {};
    QStyleOptionGroupBox opt;
    opt.initFrom(g);
    opt.text = g->title();
    opt.lineWidth = 1;
    opt.midLineWidth = 0;
    opt.textAlignment = g->alignment();
    opt.subControls = QStyle::SC_GroupBoxFrame | QStyle::SC_GroupBoxLabel;
    if (g->isCheckable()) opt.subControls |= QStyle::SC_GroupBoxCheckBox;
    *room = g->rect();
    // The style's label rectangle has a little padding around the text.
    const QRect label = g->style()->subControlRect(QStyle::CC_GroupBox, &opt, QStyle::SC_GroupBoxLabel, g);
    return QStyle::alignedRect(g->layoutDirection(), Qt::AlignCenter,
                               fm.size(Qt::TextShowMnemonic, g->title()), label);
  }
  return {};
}

struct Found {
  QWidget* widget;
  QRect text;  // in window coordinates
};

// Checks every control of `window` that is visible now; adds the texts it saw to `texts`.
void checkVisible(QWidget* window, QSet<QString>& reported, std::vector<Found>& texts) {
  const auto all = window->findChildren<QWidget*>();
  for (QWidget* w : all) {
    if (!w->isVisible() || w->window() != window) continue;
    QRect room;
    const QRect text = textRect(w, &room);
    if (text.isEmpty()) continue;
    QString trouble;
    if (!room.contains(text)) {
      trouble = QStringLiteral("needs %1x%2 px, has %3x%4")
                    .arg(text.width())
                    .arg(text.height())
                    .arg(room.width())
                    .arg(room.height());
    } else {
      // Inside its own control; now inside every control that holds it.
      QRect r = text.translated(w->mapTo(window, QPoint(0, 0)));
      for (QWidget* p = w->parentWidget(); p && !trouble.size();
           p = p->isWindow() ? nullptr : p->parentWidget()) {
        const QRect pr(p->mapTo(window, QPoint(0, 0)), p->size());
        if (!pr.contains(r)) trouble = QStringLiteral("cut off by %1").arg(pathOf(p));
      }
    }
    const QString key =
        pathOf(w) + QLatin1Char('|') + trouble + QLatin1Char('|') + w->property("text").toString();
    if (!trouble.isEmpty() && !reported.contains(key)) {
      reported.insert(key);
      ++problems;
      const QString shown =
          qobject_cast<QGroupBox*>(w) ? static_cast<QGroupBox*>(w)->title() : w->property("text").toString();
      out() << "clipped: " << pathOf(w) << " \"" << shown << "\": " << trouble << Qt::endl;
    }
    // A text under another control (a notice kept under a page control until the page
    // control hides) cannot overlap anything on screen.
    const QRect shown = text.translated(w->mapTo(window, QPoint(0, 0)));
    const QWidget* top = window->childAt(shown.center());
    if (top == w || w->isAncestorOf(top)) texts.push_back({w, shown});
  }
}

void checkOverlaps(QWidget* window, const std::vector<Found>& texts, QSet<QString>& reported) {
  for (size_t i = 0; i < texts.size(); ++i)
    for (size_t j = i + 1; j < texts.size(); ++j) {
      const Found& a = texts[i];
      const Found& b = texts[j];
      if (a.widget == b.widget || a.widget->isAncestorOf(b.widget) || b.widget->isAncestorOf(a.widget))
        continue;
      if (!a.text.intersects(b.text)) continue;
      const QString key = pathOf(a.widget) + QLatin1String(" & ") + pathOf(b.widget);
      if (reported.contains(key)) continue;
      reported.insert(key);
      ++problems;
      out() << "overlap: " << pathOf(a.widget) << " and " << pathOf(b.widget) << " in "
            << window->objectName() << Qt::endl;
    }
}

void settle(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// Checks the window as it is, then with each page of each page control shown in turn.
void checkWindow(QWidget* window, QSet<QString>& reported) {
  auto pass = [&] {
    std::vector<Found> texts;
    checkVisible(window, reported, texts);
    checkOverlaps(window, texts, reported);
  };
  pass();
  for (QTabWidget* tabs : window->findChildren<QTabWidget*>()) {
    if (tabs->window() != window) continue;
    const int was = tabs->currentIndex();
    for (int i = 0; i < tabs->count(); ++i) {
      if (i == was) continue;
      tabs->setCurrentIndex(i);
      settle(30);
      pass();
    }
    tabs->setCurrentIndex(was);
  }
  for (QStackedWidget* stack : window->findChildren<QStackedWidget*>()) {
    if (stack->window() != window || qobject_cast<QTabWidget*>(stack->parentWidget())) continue;
    const int was = stack->currentIndex();
    for (int i = 0; i < stack->count(); ++i) {
      if (i == was) continue;
      stack->setCurrentIndex(i);
      settle(30);
      pass();
    }
    stack->setCurrentIndex(was);
  }
}

QWidget* windowNamed(const QString& name) {
  for (QWidget* w : QApplication::topLevelWidgets())
    if (w->objectName() == name) return w;
  return nullptr;
}

// The window with its frame as the window manager draws it, from the screen.
void shoot(QWidget* w, const QString& name) {
  if (options.shotDir.isEmpty()) return;
  w->raise();
  w->activateWindow();
  settle(400);
  const QRect r = w->frameGeometry();
  QPixmap p = w->screen()->grabWindow(0, r.x(), r.y(), r.width(), r.height());
  const QString file = QDir(options.shotDir).filePath(options.prefix + name + QStringLiteral(".png"));
  if (!p.save(file)) {
    out() << "cannot write " << file << Qt::endl;
    problems = problems ? problems : -1;
  } else {
    out() << "picture: " << file << " (" << p.width() << "x" << p.height() << ")" << Qt::endl;
  }
}

// The union of the frames of `windows`, from the screen.
void shootTogether(const std::vector<QWidget*>& windows, const QString& name) {
  if (options.shotDir.isEmpty()) return;
  QRect all;
  for (QWidget* w : windows) {
    w->raise();
    all |= w->frameGeometry();
  }
  settle(400);
  QPixmap p = windows.front()->screen()->grabWindow(0, all.x(), all.y(), all.width(), all.height());
  const QString file = QDir(options.shotDir).filePath(options.prefix + name + QStringLiteral(".png"));
  p.save(file);
  out() << "picture: " << file << " (" << p.width() << "x" << p.height() << ")" << Qt::endl;
}

// An operator's click on a tab, so the page's own reaction runs.
void clickTab(QTabWidget* tabs, int index) {
  QTabBar* bar = tabs->tabBar();
  const QPointF at = bar->tabRect(index).center();
  QMouseEvent press(QEvent::MouseButtonPress, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                    Qt::NoModifier);
  QMouseEvent release(QEvent::MouseButtonRelease, at, bar->mapToGlobal(at), Qt::LeftButton, Qt::NoButton,
                      Qt::NoModifier);
  QApplication::sendEvent(bar, &press);
  QApplication::sendEvent(bar, &release);
}

void inspect() {
  inspected = true;
  QWidget* mainForm = windowNamed(QStringLiteral("MainForm"));
  QWidget* rx = windowNamed(QStringLiteral("RxDrawForm"));
  QWidget* schema = windowNamed(QStringLiteral("SchemaForm"));
  QWidget* link = windowNamed(QStringLiteral("LinkForm"));
  auto* panel = qobject_cast<TMainForm*>(mainForm);
  TMessageForm* MessageForm = panel ? panel->messageWindow() : nullptr;
  if (!mainForm || !rx || !schema || !link || !MessageForm) {
    out() << "the program's windows were not found" << Qt::endl;
    problems = -1;
    return;
  }
  for (QWidget* w : {link, rx, mainForm}) w->show();
  settle(options.settleMs);

  // The receive view on its pulse page, as the operator would open it, measuring upwards
  // (the search follows the sign of the panel's sync level).
  if (QWidget* level = mainForm->findChild<QWidget*>(QStringLiteral("SyncLevelPBSpinEdit")))
    level->setProperty("value", 50);
  // The events window beside the receive view when the screen has room, else over it.
  const QRect screen = link->screen()->availableGeometry();
  const QRect rxFrame = rx->frameGeometry();
  if (rxFrame.right() + link->frameGeometry().width() < screen.right())
    link->move(rxFrame.right() + 1, rxFrame.top());
  if (auto* pages = rx->findChild<QTabWidget*>(QStringLiteral("MesuarePageControl"))) clickTab(pages, 1);
  settle(500);
  shootTogether({mainForm, rx, link}, QStringLiteral("running"));
  shoot(mainForm, QStringLiteral("panel"));
  shoot(rx, QStringLiteral("rxview"));
  shoot(link, QStringLiteral("events"));
  schema->show();
  settle(300);
  shoot(schema, QStringLiteral("scenario"));

  QSet<QString> reported;
  for (QWidget* w : {mainForm, rx, schema, link}) checkWindow(w, reported);

  // Notices that only some states show: every check box of the panel toggled once.
  for (QCheckBox* box : mainForm->findChildren<QCheckBox*>()) {
    if (!box->isEnabled()) continue;
    box->toggle();
    settle(20);
    checkWindow(mainForm, reported);
    box->toggle();
  }

  // The waiting-message window with the texts it shows at start and exit.
  auto* message = static_cast<QWidget*>(MessageForm);
  const QString exitText = QStringLiteral("Оключение потока данных USB");
  for (const QString& text : {QStringLiteral("Чтение состояния из файла ") + QDir::currentPath() +
                                  QStringLiteral("/qz418-label-check.ini"),
                              QStringLiteral("Чтение сценария из файла Scenes.ini"),
                              QStringLiteral("Запись состояния программы в файл QZ_418.ini"), exitText}) {
    MessageForm->show();
    MessageForm->ShowMessageText(text);
    settle(200);
    if (text == exitText) shoot(message, QStringLiteral("message"));
    checkWindow(message, reported);
  }
  MessageForm->hide();
  out() << (problems == 0 ? "all captions fit" : "some captions do not fit") << Qt::endl;
}

// The windows are made inside the program's start-up, which processes events while it
// reads the state file: wait until the last window exists and the panel is shown.
void waitForWindows() {
  QWidget* mainForm = windowNamed(QStringLiteral("MainForm"));
  if (!mainForm || !mainForm->isVisible() || !windowNamed(QStringLiteral("LinkForm"))) {
    QTimer::singleShot(100, waitForWindows);
    return;
  }
  inspect();
  mainForm->close();
}

void schedule() { QTimer::singleShot(100, waitForWindows); }

}  // namespace

int main(int argc, char** argv) {
  std::vector<char*> args{argv[0]};
  for (int i = 1; i < argc; ++i) {
    auto value = [&]() -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "%s: %s needs a value\n", argv[0], argv[i]);
        std::exit(2);
      }
      return argv[++i];
    };
    if (!std::strcmp(argv[i], "--shots"))
      options.shotDir = QString::fromLocal8Bit(value());
    else if (!std::strcmp(argv[i], "--prefix"))
      options.prefix = QString::fromLocal8Bit(value());
    else if (!std::strcmp(argv[i], "--settle"))
      options.settleMs = std::atoi(value());
    else {
      std::fprintf(stderr, "usage: %s [--shots DIR] [--prefix TEXT] [--settle MS]\n", argv[0]);
      return 2;
    }
  }
  qAddPreRoutine(schedule);
  int count = int(args.size());
  args.push_back(nullptr);
  const int rc = runProgram(count, args.data());
  if (!inspected || problems < 0) return 2;
  return rc != 0 ? 2 : (problems > 0 ? 1 : 0);
}
