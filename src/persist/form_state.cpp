#include "persist/form_state.h"

#include <QCheckBox>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QHash>
#include <QLineEdit>
#include <QPointer>
#include <QScreen>
#include <QSlider>
#include <QStackedWidget>
#include <QToolButton>
#include <QWidget>
#include <algorithm>
#include <vector>

#include "base/number_text.h"
#include "persist/atomic_write.h"
#include "persist/extra_controls.h"
#include "persist/file_notices.h"
#include "persist/form_values.h"
#include "persist/ini_file.h"
#include "persist/window_placement.h"
#include "widgets/bin_hex_edit.h"
#include "widgets/dialogs.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"
#include "widgets/spin_edit.h"

namespace {

// Keys are written one at a time into the loaded file; the file is written once at the end,
// which gives the same text as writing each key through the profile functions.
struct Writer {
  IniFile& ini;
  const QString& section;

  void text(const QString& key, const QString& value) { ini.writeString(section, key, value); }
  void integer(const QString& key, int value) { text(key, QString::number(value)); }
  void boolean(const QString& key, bool value) {
    text(key, value ? QStringLiteral("1") : QStringLiteral("0"));
  }
  void real(const QString& key, long double value) {
    text(key, formvalue::floatText(value, appFormatSettings()));
  }
};

struct Reader {
  const IniFile& ini;
  const QString& section;
  QWidget* window;

  QString text(const QString& key, const QString& def) const { return ini.readString(section, key, def); }
  int integer(const QString& key, int def) const {
    const std::optional<QString> v = ini.value(section, key);
    return v ? formvalue::parseInt(*v).value_or(def) : def;
  }
  bool boolean(const QString& key, bool def) const { return integer(key, def ? 1 : 0) != 0; }
  // The text of the float that stopped the load.
  QString* unreadable;

  // The current value is the default as text, so even a missing key goes through the text.
  std::optional<long double> real(const QString& key, long double current) const {
    const FormatSettings& fs = appFormatSettings();
    const QString s = text(key, formvalue::floatText(current, fs));
    std::optional<long double> v = formvalue::parseFloat(s, fs);
    if (!v) *unreadable = s;
    return v;
  }
};

// One row of the class table: which objects it takes, their keys written, their keys read
// (false stops the load).
struct Row {
  bool (*matches)(QObject*);
  void (*save)(Writer&, QObject*, const QString& name);
  bool (*load)(const Reader&, QObject*, const QString& name);
};

template <typename T>
T* as(QObject* o) {
  return static_cast<T*>(o);
}

// A value read from a file enters its control within the control's own limits, silently, as
// an operator's entry is held to them: a damaged file must not send the device a value no
// operator could set. Limits are the receiving control's, so a scene page keeps its wider ones.

// A real field without limits (both 0) takes any number.
long double withinLimits(const TRealEdit* e, long double v) {
  return e->hasLimits() ? std::clamp(v, e->minValue(), e->maxValue()) : v;
}

// The binary/hex field checks its limits only when both are non-zero.
qint32 withinLimits(const TBinHexEdit* e, qint32 v) {
  return e->minValue() != 0 && e->maxValue() != 0 ? std::clamp(v, e->minValue(), e->maxValue()) : v;
}

// A page control always shows a page after a load (one without pages shows none).
int pageWithin(int index, int count) { return count > 0 ? std::clamp(index, 0, count - 1) : -1; }

// Kept in this order: an object is tested against every row in turn.
const Row kRows[] = {
    // 1: a plain text field; the numeric fields derive from QLineEdit too and have rows of their own.
    {[](QObject* o) {
       return qobject_cast<QLineEdit*>(o) && !o->inherits("TRealEdit") && !o->inherits("TSpinEdit") &&
              !o->inherits("TBinHexEdit");
     },
     [](Writer& w, QObject* o, const QString& n) { w.text(n, as<QLineEdit>(o)->text()); },
     [](const Reader& r, QObject* o, const QString& n) {
       as<QLineEdit>(o)->setText(r.text(n, as<QLineEdit>(o)->text()));
       return true;
     }},
    // 2: integer spin field
    {[](QObject* o) { return qobject_cast<TSpinEdit*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) { w.integer(n, as<TSpinEdit>(o)->value()); },
     [](const Reader& r, QObject* o, const QString& n) {
       as<TSpinEdit>(o)->setValue(r.integer(n, as<TSpinEdit>(o)->value()));
       return true;
     }},
    // 3: check box
    {[](QObject* o) { return qobject_cast<QCheckBox*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) { w.boolean(n, as<QCheckBox>(o)->isChecked()); },
     [](const Reader& r, QObject* o, const QString& n) {
       as<QCheckBox>(o)->setChecked(r.boolean(n, as<QCheckBox>(o)->isChecked()));
       return true;
     }},
    // 4: slider
    {[](QObject* o) { return qobject_cast<QSlider*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) { w.integer(n, as<QSlider>(o)->value()); },
     [](const Reader& r, QObject* o, const QString& n) {
       as<QSlider>(o)->setValue(r.integer(n, as<QSlider>(o)->value()));
       return true;
     }},
    // 5: a tool button that belongs to a group (group index 0 is a plain button)
    {[](QObject* o) { return qobject_cast<QToolButton*>(o) && o->property("groupIndex").toInt() != 0; },
     [](Writer& w, QObject* o, const QString& n) { w.boolean(n, as<QToolButton>(o)->isChecked()); },
     [](const Reader& r, QObject* o, const QString& n) {
       as<QToolButton>(o)->setChecked(r.boolean(n, as<QToolButton>(o)->isChecked()));
       return true;
     }},
    // 6: radio group; setItemIndex clamps what a file holds
    {[](QObject* o) { return qobject_cast<TRadioGroup*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) { w.integer(n, as<TRadioGroup>(o)->itemIndex()); },
     [](const Reader& r, QObject* o, const QString& n) {
       as<TRadioGroup>(o)->setItemIndex(r.integer(n, as<TRadioGroup>(o)->itemIndex()));
       return true;
     }},
    // 7: float spin field
    {[](QObject* o) { return qobject_cast<TRealSpinEdit*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) { w.real(n, as<TRealSpinEdit>(o)->value()); },
     [](const Reader& r, QObject* o, const QString& n) {
       TRealSpinEdit* e = as<TRealSpinEdit>(o);
       const std::optional<long double> v = r.real(n, e->value());
       if (v) e->setValue(withinLimits(e, *v));
       return v.has_value();
     }},
    // 8: tabbed notebook
    {[](QObject* o) { return qobject_cast<TTabbedNotebook*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) { w.integer(n, as<TTabbedNotebook>(o)->pageIndex()); },
     [](const Reader& r, QObject* o, const QString& n) {
       TTabbedNotebook* t = as<TTabbedNotebook>(o);
       t->setPageIndex(pageWithin(r.integer(n, t->pageIndex()), t->count()));
       return true;
     }},
    // 9: binary/hex field; applied bin, hex, integer, so the integer wins when they disagree
    {[](QObject* o) { return qobject_cast<TBinHexEdit*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) {
       const TBinHexEdit* e = as<TBinHexEdit>(o);
       w.text(n + QStringLiteral("AsBin"), e->asBin());
       w.text(n + QStringLiteral("AsHex"), e->asHex());
       w.integer(n + QStringLiteral("AsInteger"), e->asInteger());
     },
     [](const Reader& r, QObject* o, const QString& n) {
       TBinHexEdit* e = as<TBinHexEdit>(o);
       // Each text read as the field reads it, then held to the limits.
       const qint32 bin = TBinHexEdit::parseBinary(r.text(n + QStringLiteral("AsBin"), e->asBin()));
       if (bin != e->asInteger()) e->setAsInteger(withinLimits(e, bin));
       if (const std::optional<qint32> hex =
               TBinHexEdit::parseInteger(r.text(n + QStringLiteral("AsHex"), e->asHex())))
         if (*hex != e->asInteger()) e->setAsInteger(withinLimits(e, *hex));
       e->setAsInteger(withinLimits(e, r.integer(n + QStringLiteral("AsInteger"), e->asInteger())));
       return true;
     }},
    // 10: string grid; the size first (1 x 1 when missing), then every cell, column by column
    {[](QObject* o) { return qobject_cast<TStringGrid*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) {
       const TStringGrid* g = as<TStringGrid>(o);
       w.integer(n + QStringLiteral("ColCount"), g->colCount());
       w.integer(n + QStringLiteral("RowCount"), g->rowCount());
       for (int c = 0; c < g->colCount(); ++c)
         for (int row = 0; row < g->rowCount(); ++row)
           w.text(formvalue::gridCellKey(n, c, row), g->cells(c, row));
     },
     [](const Reader& r, QObject* o, const QString& n) {
       TStringGrid* g = as<TStringGrid>(o);
       g->setColCount(r.integer(n + QStringLiteral("ColCount"), 1));
       g->setRowCount(r.integer(n + QStringLiteral("RowCount"), 1));
       for (int c = 0; c < g->colCount(); ++c)
         for (int row = 0; row < g->rowCount(); ++row)
           g->setCells(c, row, r.text(formvalue::gridCellKey(n, c, row), QString()));
       return true;
     }},
    // 11: page control; an index outside the pages selects the nearest one
    {[](QObject* o) { return qobject_cast<TPageControl*>(o) != nullptr; },
     [](Writer& w, QObject* o, const QString& n) { w.integer(n, as<TPageControl>(o)->activePageIndex()); },
     [](const Reader& r, QObject* o, const QString& n) {
       TPageControl* p = as<TPageControl>(o);
       p->setActivePageIndex(pageWithin(r.integer(n, p->activePageIndex()), p->count()));
       return true;
     }},
};

// Design components carry names; Qt's inner parts of composite widgets are named "qt_...".
bool isComponent(const QObject* o) {
  const QString& name = o->objectName();
  return !name.isEmpty() && !name.startsWith(QLatin1StringView("qt_"));
}

// QObject keeps children in creation order, but raising or lowering a widget moves it in that
// list, and a stacked widget (the pages of every tab widget) lowers each page it is given and
// raises the page shown. Its pages are therefore taken in page order, in the places the list
// gives them.
QObjectList childrenInOrder(QObject* parent) {
  QObjectList children = parent->children();
  const auto* stack = qobject_cast<QStackedWidget*>(parent);
  if (!stack) return children;
  std::vector<qsizetype> places;
  std::vector<std::pair<int, QObject*>> pages;
  for (qsizetype i = 0; i < children.size(); ++i) {
    QObject* c = children[i];
    const int index = c->isWidgetType() ? stack->indexOf(static_cast<QWidget*>(c)) : -1;
    if (index < 0) continue;
    places.push_back(i);
    pages.emplace_back(index, c);
  }
  std::sort(pages.begin(), pages.end());
  for (size_t k = 0; k < places.size(); ++k) children[places[k]] = pages[k].second;
  return children;
}

void collectComponents(QObject* parent, std::vector<QPointer<QObject>>& out) {
  for (QObject* child : childrenInOrder(parent)) {
    if (child->isWidgetType() && static_cast<QWidget*>(child)->isWindow()) continue;
    if (isComponent(child)) out.emplace_back(child);
    collectComponents(child, out);
  }
}

// The components in creation order, collected before the walk: reactions that run while a
// control is set, and the events processed between controls, may create or delete objects.
std::vector<QPointer<QObject>> componentsOf(QWidget* window) {
  std::vector<QPointer<QObject>> out;
  collectComponents(window, out);
  return out;
}

// A damaged file must not move a window to coordinates Qt's rectangles overflow on, nor
// make it big enough for its backing store to take gigabytes: positions stay within a million
// pixels, sizes within three times the desktop (windows may be larger than the screen).
constexpr int kMaxCoordinate = 1'000'000;

QSize sizeLimit(const QWidget* window) {
  QSize limit(1024, 1024);
  if (const QScreen* screen = window->screen() ? window->screen() : QGuiApplication::primaryScreen())
    limit = limit.expandedTo(screen->virtualGeometry().size() * 3);
  return limit.expandedTo(window->frameGeometry().size());
}

void loadGeometry(const Reader& r, QWidget* window) {
  const QRect frame = window->frameGeometry();
  const int top = std::clamp(r.integer(QStringLiteral("Top"), frame.top()), -kMaxCoordinate, kMaxCoordinate);
  const int left =
      std::clamp(r.integer(QStringLiteral("Left"), frame.left()), -kMaxCoordinate, kMaxCoordinate);
  QRect stored(left, top, frame.width(), frame.height());
  const bool sizeable = window->minimumSize() != window->maximumSize();
  if (sizeable) {
    const QSize limit = sizeLimit(window);
    stored.setWidth(std::clamp(r.integer(QStringLiteral("Width"), frame.width()), 0, limit.width()));
    stored.setHeight(std::clamp(r.integer(QStringLiteral("Height"), frame.height()), 0, limit.height()));
  }
  // The stored numbers are the outer frame; the window may not have one yet.
  applyStoredFrame(window, stored, sizeable);
}

bool sectionNameOf(const QWidget* window, QString* section) {
  *section = window->objectName();
  if (!section->isEmpty()) return true;
  qWarning("form state: a window of class %s has no objectName; nothing is stored",
           window->metaObject()->className());
  return false;
}

}  // namespace

namespace {

// Rewrites one window's section in ini. The window is disabled meanwhile and its enabled
// state and visibility put back after. False when the window went away during the walk.
bool writeSection(IniFile& ini, QWidget* window, const QString& section) {
  QPointer<QWidget> guard(window);
  // The window's own flags, not what its parents make of them.
  const bool wasEnabled = !window->testAttribute(Qt::WA_ForceDisabled);
  const bool wasVisible = !window->isHidden();
  window->setEnabled(false);

  ini.eraseSection(section);
  Writer w{ini, section};
  const QRect frame = window->frameGeometry();
  w.integer(QStringLiteral("Top"), frame.top());
  w.integer(QStringLiteral("Left"), frame.left());
  w.integer(QStringLiteral("Width"), frame.width());
  w.integer(QStringLiteral("Height"), frame.height());
  for (const QPointer<QObject>& o : componentsOf(window)) {
    QCoreApplication::processEvents();
    if (!guard) return false;  // the window went away meanwhile: leave the file as it was
    if (!o) continue;
    for (const Row& row : kRows)
      if (row.matches(o)) row.save(w, o, o->objectName());
  }
  w.boolean(QStringLiteral("Wisible"), wasVisible);
  w.boolean(QStringLiteral("Enabled"), wasEnabled);

  window->setEnabled(wasEnabled);
  if (window->isHidden() == wasVisible) window->setVisible(wasVisible);
  window->update();
  return true;
}

}  // namespace

bool SaveFormState(const QString& fileName, QWidget* window) { return SaveFormStates(fileName, {window}); }

bool SaveFormStates(const QString& fileName, const QList<QWidget*>& windows) {
  IniFile ini;
  bool written = ini.load(fileName);  // a file that exists but cannot be read must not be replaced
  QWidget* first = nullptr;
  for (QWidget* window : windows) {
    if (!window) continue;
    QString section;
    if (!sectionNameOf(window, &section)) return false;
    if (!first) first = window;
    if (written && !writeSection(ini, window, section)) return false;
  }
  if (!first) return true;
  QString why, refusedLink;
  if (written) written = ini.save(fileName, &why, &refusedLink);
  if (!written) {
    QString text = QStringLiteral("Unable to write to ") + fileName;
    if (!refusedLink.isEmpty())
      text += QStringLiteral("\rСсылка ") + refusedLink +
              QStringLiteral(" принадлежит другому пользователю: программа по ней не пишет");
    dialogs().warning(first, QString(), text);
  }
  return written;
}

namespace {

// A file whose load stopped at an unreadable value was not read whole: the values after it
// kept their defaults, and the next save of that file would write them over what the user
// stored. The file as it was is kept first, once per file and run, in the private state folder.
QString keepUnreadFile(const QString& fileName, const QByteArray& bytes) {
  static QHash<QString, std::pair<QByteArray, QString>> kept;  // file: its bytes, their copy
  if (const auto it = kept.constFind(fileName); it != kept.constEnd() && it->first == bytes)
    return it->second;
  QString why;
  const QString copy = keepDatedCopy(fileName, bytes, &why);
  if (copy.isEmpty()) {
    reportFileNotice(
        QStringLiteral("Файл %1 прочитан не весь, и сохранить его копию нельзя: %2").arg(fileName, why));
    return QString();
  }
  kept.insert(fileName, {bytes, copy});
  reportFileNotice(QStringLiteral("Файл %1 прочитан не весь; он сохранён как был в %2").arg(fileName, copy));
  return copy;
}

}  // namespace

bool LoadFormState(const QString& fileName, QWidget* window) {
  if (!window) return true;
  QString section;
  if (!sectionNameOf(window, &section)) return false;
  QPointer<QWidget> guard(window);
  IniFile ini;
  ini.load(fileName);  // unreadable reads as empty: every control keeps its value
  QString unreadable;
  const Reader r{ini, section, window, &unreadable};

  loadGeometry(r, window);
  for (const QPointer<QObject>& o : componentsOf(window)) {
    QCoreApplication::processEvents();
    if (!guard) return false;
    if (!o) continue;
    for (const Row& row : kRows) {
      if (!row.matches(o)) continue;
      if (!row.load(r, o, o->objectName())) {
        window->update();
        const QString copy = keepUnreadFile(fileName, ini.loadedBytes());
        QString text = u'\'' + unreadable + QStringLiteral("' is not a valid floating point value");
        if (!copy.isEmpty()) text += QStringLiteral("\rФайл прочитан не весь; он сохранён как был в ") + copy;
        dialogs().warning(window, QString(), text);
        return false;
      }
      if (!o || !guard) break;  // a change reaction deleted it
    }
  }
  if (!guard) return false;
  window->setVisible(r.boolean(QStringLiteral("Wisible"), !window->isHidden()));
  window->update();
  return true;
}
