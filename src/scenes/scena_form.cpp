#include "scenes/scena_form.h"

#include <QCheckBox>
#include <QLineEdit>
#include <QSlider>

#include "scenes/scene_fields.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"

namespace {

QWidget* makeControl(const SceneField& f, QWidget* parent) {
  QWidget* w = nullptr;
  switch (f.kind) {
    case SceneFieldKind::Text:
      w = new QLineEdit(f.defaultText, parent);
      break;
    case SceneFieldKind::Page: {
      auto* pages = new TPageControl(parent);
      for (const QString& caption : f.items) pages->addTab(new QWidget, caption);
      pages->setActivePageIndex(int(f.defaultValue));
      w = pages;
      break;
    }
    case SceneFieldKind::Radio: {
      auto* group = new TRadioGroup(parent);
      group->setTitle(f.caption);
      group->setItems(f.items);
      group->setItemIndex(int(f.defaultValue));
      w = group;
      break;
    }
    case SceneFieldKind::Check: {
      auto* box = new QCheckBox(f.caption, parent);
      box->setChecked(f.defaultValue != 0);
      w = box;
      break;
    }
    case SceneFieldKind::Real: {
      auto* real = new TRealSpinEdit(parent);
      const RealFieldLimits& k = f.real;
      real->configure(k.min, k.max, k.decimals, k.increment, k.round, k.maxLength);
      real->setValue(f.defaultValue);
      w = real;
      break;
    }
    case SceneFieldKind::Integer: {
      auto* spin = new TIntSpinEdit(parent);
      spin->setMaxValue(f.intMax);
      spin->setMinValue(f.intMin);
      spin->setValue(int(f.defaultValue));
      w = spin;
      break;
    }
    case SceneFieldKind::Slider: {
      auto* slider = new QSlider(Qt::Horizontal, parent);
      slider->setRange(f.intMin, f.intMax);
      slider->setValue(int(f.defaultValue));
      w = slider;
      break;
    }
  }
  w->setObjectName(f.name);
  return w;
}

}  // namespace

TScenaForm::TScenaForm(QWidget* owner, int number) : QWidget(owner, Qt::Window) {
  setObjectName(sceneWindowName(number));
  setWindowTitle(sceneTitle(number));
  // The panel's size; the geometry is stored with the scene but has no use.
  setGeometry(0, 0, 703, 671);
  // Created in the order of sceneFields(), which the form-state walker follows: that is the
  // order of the keys in the scene's section. The controls are never laid out or shown.
  const std::vector<SceneField>& fields = sceneFields();
  fields_.reserve(fields.size());
  for (const SceneField& f : fields) fields_.push_back(makeControl(f, this));
  CommentEdit = static_cast<QLineEdit*>(field(QStringLiteral("CommentEdit")));
}

QWidget* TScenaForm::field(int index) const {
  return index >= 0 && index < int(fields_.size()) ? fields_[size_t(index)] : nullptr;
}

QWidget* TScenaForm::field(const QString& name) const { return field(sceneFieldIndex(name)); }

void TScenaForm::setVisible(bool) { QWidget::setVisible(false); }
