#include "widgets/status_bar.h"

#include <QHBoxLayout>

TStatusBar::TStatusBar(QWidget* parent) : QFrame(parent) {
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(1, 1, 1, 1);
  layout->setSpacing(2);
  setFixedHeight(fontMetrics().height() + 8);
}

void TStatusBar::addPanel(int width, const QString& text) {
  auto* label = new QLabel(text, this);
  label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  label->setTextFormat(Qt::PlainText);
  label->setContentsMargins(2, 0, 2, 0);
  if (width > 0) {
    label->setFixedWidth(width);
    static_cast<QHBoxLayout*>(layout())->addWidget(label);
  } else {
    label->setMinimumWidth(10);
    static_cast<QHBoxLayout*>(layout())->addWidget(label, 1);
  }
  panels_.append(label);
}

QString TStatusBar::panelText(int index) const {
  return index >= 0 && index < panels_.size() ? panels_[index]->text() : QString();
}

void TStatusBar::setPanelText(int index, const QString& text) {
  if (index >= 0 && index < panels_.size()) panels_[index]->setText(text);
}
