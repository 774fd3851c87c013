#include "persist/extra_controls.h"

#include <algorithm>

TTabbedNotebook::TTabbedNotebook(QWidget* parent) : QTabWidget(parent) {}

void TTabbedNotebook::setPageIndex(int index) {
  if (index >= 0 && index < count()) setCurrentIndex(index);
}

TStringGrid::TStringGrid(QWidget* parent) : QTableWidget(parent) {
  // The platform grid's design size.
  setColCount(5);
  setRowCount(5);
}

void TStringGrid::setColCount(int count) { setColumnCount(std::clamp(count, 1, kMaxCount)); }

void TStringGrid::setRowCount(int count) { QTableWidget::setRowCount(std::clamp(count, 1, kMaxCount)); }

QString TStringGrid::cells(int col, int row) const {
  const QTableWidgetItem* it = item(row, col);
  return it ? it->text() : QString();
}

void TStringGrid::setCells(int col, int row, const QString& text) {
  if (col < 0 || row < 0 || col >= columnCount() || row >= rowCount()) return;
  if (QTableWidgetItem* it = item(row, col)) {
    it->setText(text);
  } else if (!text.isEmpty()) {
    setItem(row, col, new QTableWidgetItem(text));
  }
}
