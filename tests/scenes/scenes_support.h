#pragma once
// The scenario tests run the real panel, receive view and scenario window, with the state file
// and Scenes.ini in a temporary folder. Values are compared as text through one reader for
// every kind of control.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QSlider>
#include <QTemporaryDir>
#include <cmath>
#include <memory>

#include "panel/main_form.h"
#include "persist/form_values.h"
#include "persist/ini_file.h"
#include "rxview/rx_draw_form.h"
#include "scenes/scena_form.h"
#include "scenes/scene_fields.h"
#include "scenes/schema_form.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"
#include "widgets/spin_edit.h"
#include "shell/program_windows.h"

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
inline void PrintTo(const QStringList& l, std::ostream* os) {
  *os << '[' << l.join(", ").toStdString() << ']';
}

namespace scenetest {

inline QString valueOf(const QWidget* w) {
  if (!w) return QStringLiteral("<none>");
  if (auto* p = qobject_cast<const TPageControl*>(w)) return QString::number(p->activePageIndex());
  if (auto* r = qobject_cast<const TRadioGroup*>(w)) return QString::number(r->itemIndex());
  if (auto* c = qobject_cast<const QCheckBox*>(w))
    return c->isChecked() ? QStringLiteral("1") : QStringLiteral("0");
  if (auto* f = qobject_cast<const TRealEdit*>(w))
    return formvalue::floatText(f->value(), FormatSettings::point());
  if (auto* s = qobject_cast<const TSpinEdit*>(w)) return QString::number(s->value());
  if (auto* s = qobject_cast<const QSlider*>(w)) return QString::number(s->value());
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  return QStringLiteral("<kind?>");
}

// A value of the field's kind that differs from its default, varied by seed. Calibration boxes
// stay off and channel 1 stays off the sine page, so no interlock disturbs the other fields.
inline void setVariant(QWidget* w, const SceneField& f, int seed) {
  if (auto* p = qobject_cast<TPageControl*>(w)) {
    p->setActivePageIndex(f.name == "Ch1_PageControl" ? 2 : f.name == "Ch2_PageControl" ? 0 : 2);
  } else if (auto* r = qobject_cast<TRadioGroup*>(w)) {
    r->setItemIndex(r->count() - 1);
  } else if (auto* c = qobject_cast<QCheckBox*>(w)) {
    if (!f.name.contains(QLatin1String("RF_To"))) c->setChecked(f.defaultValue == 0);
  } else if (auto* r = qobject_cast<TRealSpinEdit*>(w)) {
    const long double scale = std::pow(10.0L, f.real.decimals);
    const long double v = f.real.min + (f.real.max - f.real.min) * (0.2L + 0.07L * seed);
    r->setValue(std::round(v * scale) / scale);
  } else if (auto* s = qobject_cast<TSpinEdit*>(w)) {
    s->setValue(f.intMin + (f.intMax - f.intMin) * (2 + seed) / 10);
  } else if (auto* s = qobject_cast<QSlider*>(w)) {
    s->setValue(-100 + seed);
  } else if (auto* e = qobject_cast<QLineEdit*>(w)) {
    e->setText(QStringLiteral("Сцена-проба %1").arg(seed));
  }
}

inline QByteArray readFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline void writeFile(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
  f.write(bytes);
}

// The section names of a file, in file order.
inline QStringList sectionsOf(const QByteArray& bytes) {
  QStringList out;
  for (const QByteArray& line : bytes.split('\n'))
    if (line.startsWith('[')) out << QString::fromLatin1(line.trimmed().mid(1).chopped(1));
  return out;
}

// The keys of one section, in file order.
inline QStringList keysOf(const QByteArray& bytes, const QString& section) {
  QStringList out;
  bool inside = false;
  for (const QByteArray& line : bytes.split('\n')) {
    const QByteArray l = line.trimmed();
    if (l.startsWith('[')) {
      inside = QString::fromLatin1(l.mid(1).chopped(1)) == section;
    } else if (inside && l.contains('=')) {
      out << QString::fromLatin1(l.left(l.indexOf('=')));
    }
  }
  return out;
}

// Drops the line of key from section.
inline QByteArray withoutKey(const QByteArray& bytes, const QString& section, const QString& key) {
  QByteArray out;
  bool inside = false;
  for (const QByteArray& line : bytes.split('\n')) {
    if (line.isEmpty()) continue;
    const QByteArray l = line.trimmed();
    if (l.startsWith('[')) inside = QString::fromLatin1(l.mid(1).chopped(1)) == section;
    if (inside && l.startsWith(key.toLatin1() + '=')) continue;
    out += line + '\n';
  }
  return out;
}

inline QByteArray withValue(const QByteArray& bytes, const QString& section, const QString& key,
                            const QString& v) {
  IniFile ini(bytes);
  ini.writeString(section, key, v);
  return ini.toBytes();
}

class ScenesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setAppFormatSettings(FormatSettings::point());
    TSchemaForm::stateFile = [this] { return statePath(); };
    TSchemaForm::scenesFile = [this] { return scenesPath(); };
    main = std::make_unique<TMainForm>();
    main->saveStateOnClose = false;
    rx = std::make_unique<TRxDrawForm>(main.get());
  }
  void TearDown() override {
    schema.reset();
    rx.reset();
    main.reset();
    TSchemaForm::stateFile = nullptr;
    TSchemaForm::scenesFile = nullptr;
  }

  // Creates the scenario window: the start of the scenes.
  void start() {
    schema.reset();
    schema = std::make_unique<TSchemaForm>(main.get(), rx.get());
    wireWindows({main.get(), rx.get(), schema.get(), nullptr});
  }
  QString statePath() const { return dir.filePath("qz418.ini"); }
  QString scenesPath() const { return dir.filePath("Scenes.ini"); }

  // The live control of a scene field: the panel's, or the receive view's for the input settings.
  QWidget* live(const QString& name) const {
    if (auto* w = main->findChild<QWidget*>(name)) return w;
    return rx->findChild<QWidget*>(name);
  }
  static bool copied(const SceneField& f) { return f.group != SceneGroup::NotCopied; }

  // Every copied field of scene n against the live controls; the names that differ.
  QStringList differences(int n) const {
    QStringList out;
    for (const SceneField& f : sceneFields())
      if (copied(f) && valueOf(schema->scene(n)->field(f.name)) != valueOf(live(f.name)))
        out << f.name + ": scene " + valueOf(schema->scene(n)->field(f.name)) + ", live " +
                   valueOf(live(f.name));
    return out;
  }
  void setSceneVariant(int n, int seed) {
    for (const SceneField& f : sceneFields()) setVariant(schema->scene(n)->field(f.name), f, seed);
  }
  void setLiveVariant(int seed) {
    for (const SceneField& f : sceneFields())
      if (copied(f)) setVariant(live(f.name), f, seed);
  }

  QTemporaryDir dir;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TRxDrawForm> rx;
  std::unique_ptr<TSchemaForm> schema;
};

}  // namespace scenetest
