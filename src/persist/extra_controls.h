#pragma once
// Two controls that no window of the program places but that the form-state files know how to
// store (a project file written elsewhere may hold their keys): a tabbed notebook with a page
// index and a grid of text cells.

#include <QTabWidget>
#include <QTableWidget>

class TTabbedNotebook : public QTabWidget {
  Q_OBJECT
  Q_PROPERTY(int pageIndex READ pageIndex WRITE setPageIndex)

 public:
  explicit TTabbedNotebook(QWidget* parent = nullptr);

  int pageIndex() const { return currentIndex(); }
  // An index that names no page is ignored: the page shown stays.
  void setPageIndex(int index);
};

// Cells are addressed column first, as the files list them.
class TStringGrid : public QTableWidget {
  Q_OBJECT

 public:
  // A file can ask for any size; this many columns or rows is plenty and keeps a damaged file
  // from building a grid of a billion cells.
  static constexpr int kMaxCount = 1000;

  explicit TStringGrid(QWidget* parent = nullptr);

  int colCount() const { return columnCount(); }
  // Clamped into 1..kMaxCount.
  void setColCount(int count);
  // Hides QTableWidget's to clamp the same way.
  void setRowCount(int count);

  // Empty for a cell outside the grid or never set.
  QString cells(int col, int row) const;
  // Ignored outside the grid; an empty text on a cell never set creates no item.
  void setCells(int col, int row, const QString& text);
};
