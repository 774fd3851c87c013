#include "widgets/radio_group.h"

#include <QButtonGroup>
#include <QGridLayout>
#include <QRadioButton>
#include <algorithm>

TRadioGroup::TRadioGroup(QWidget* parent)
    : QGroupBox(parent), grid_(new QGridLayout(this)), buttons_(new QButtonGroup(this)) {
  buttons_->setExclusive(true);
  connect(buttons_, &QButtonGroup::idToggled, this, &TRadioGroup::onButtonToggled);
}

void TRadioGroup::setItems(const QStringList& items) {
  items_ = items;
  rebuild();
  const int old = index_;
  index_ = std::min(index_, count() - 1);
  showIndex();
  if (index_ != old) emit clicked();
}

void TRadioGroup::addItem(const QString& item) {
  QStringList items = items_;
  items.append(item);
  setItems(items);
}

void TRadioGroup::setColumns(int columns) {
  columns = std::max(1, columns);
  if (columns == columns_) return;
  columns_ = columns;
  rebuild();
  showIndex();
}

void TRadioGroup::setItemIndex(int index) {
  index = std::clamp(index, -1, count() - 1);
  if (index == index_) return;
  index_ = index;
  showIndex();
  emit clicked();
}

QRadioButton* TRadioGroup::button(int index) const {
  return qobject_cast<QRadioButton*>(buttons_->button(index));
}

void TRadioGroup::rebuild() {
  for (QAbstractButton* b : buttons_->buttons()) {
    buttons_->removeButton(b);
    delete b;
  }
  for (int c = 0; c < grid_->columnCount(); ++c) grid_->setColumnStretch(c, 0);
  const int n = count();
  const int perColumn = std::max(1, (n + columns_ - 1) / columns_);
  for (int i = 0; i < n; ++i) {
    auto* b = new QRadioButton(items_[i], this);
    buttons_->addButton(b, i);
    grid_->addWidget(b, i % perColumn, i / perColumn);
  }
  for (int c = 0; c < columns_; ++c) grid_->setColumnStretch(c, 1);
}

void TRadioGroup::showIndex() {
  if (QAbstractButton* b = button(index_)) {
    if (!b->isChecked()) b->setChecked(true);
    return;
  }
  // An exclusive group will not uncheck its last checked button.
  buttons_->setExclusive(false);
  for (QAbstractButton* b : buttons_->buttons()) b->setChecked(false);
  buttons_->setExclusive(true);
}

// The operator's click (or arrow key) checks a button; code's changes arrive here too, but
// with the index already set, so they raise nothing twice.
void TRadioGroup::onButtonToggled(int id, bool checked) {
  if (!checked || id == index_) return;
  index_ = id;
  emit clicked();
}
