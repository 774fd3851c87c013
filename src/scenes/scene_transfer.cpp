#include "scenes/scene_transfer.h"

#include <QCheckBox>

#include "scenes/scene_fields.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_edit.h"
#include "widgets/spin_edit.h"

namespace {

template <typename T>
bool copyAs(const QWidget* from, QWidget* to, void (*copy)(const T*, T*)) {
  const T* f = qobject_cast<const T*>(from);
  T* t = qobject_cast<T*>(to);
  if (!f || !t) return false;
  copy(f, t);
  return true;
}

}  // namespace

bool copyControlValue(const QWidget* from, QWidget* to) {
  if (!from || !to) return false;
  return copyAs<TPageControl>(
             from, to,
             [](const TPageControl* f, TPageControl* t) { t->setActivePageIndex(f->activePageIndex()); }) ||
         copyAs<TRadioGroup>(from, to,
                             [](const TRadioGroup* f, TRadioGroup* t) { t->setItemIndex(f->itemIndex()); }) ||
         copyAs<QCheckBox>(from, to,
                           [](const QCheckBox* f, QCheckBox* t) { t->setChecked(f->isChecked()); }) ||
         copyAs<TRealEdit>(from, to, [](const TRealEdit* f, TRealEdit* t) { t->setValue(f->value()); }) ||
         copyAs<TSpinEdit>(from, to, [](const TSpinEdit* f, TSpinEdit* t) { t->setValue(f->value()); });
}

const std::vector<QPointer<QWidget>>& LiveControls::bind(QWidget* panel, QWidget* receiveView) {
  // A window deleted since the last call reads as null here, so a new window at the same
  // address is looked up afresh.
  if (bound_ && panel_.data() == panel && receiveView_.data() == receiveView) return controls_;
  bound_ = true;
  panel_ = panel;
  receiveView_ = receiveView;
  const std::vector<SceneField>& fields = sceneFields();
  controls_.assign(fields.size(), nullptr);
  for (size_t i = 0; i < fields.size(); ++i) {
    QWidget* window = nullptr;
    switch (fields[i].group) {
      case SceneGroup::NotCopied:
        break;
      case SceneGroup::Channel1:
      case SceneGroup::Channel2:
      case SceneGroup::Sync:
        window = panel;
        break;
      case SceneGroup::Input:
        window = receiveView;
        break;
    }
    if (!window) continue;
    controls_[i] = window->findChild<QWidget*>(fields[i].name);
    if (!controls_[i])
      qWarning("scenes: %s has no control %s", qPrintable(window->objectName()), qPrintable(fields[i].name));
  }
  return controls_;
}
