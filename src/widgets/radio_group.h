#pragma once
// A captioned group of radio buttons, one per item, with a single item index (-1: none).

#include <QGroupBox>
#include <QStringList>

class QButtonGroup;
class QGridLayout;
class QRadioButton;

class TRadioGroup : public QGroupBox {
  Q_OBJECT
  Q_PROPERTY(int itemIndex READ itemIndex WRITE setItemIndex NOTIFY clicked)

 public:
  explicit TRadioGroup(QWidget* parent = nullptr);

  const QStringList& items() const { return items_; }
  // Rebuilds the buttons. The index is kept if it still names an item, else it drops to
  // the last item (-1 without items), which counts as a change.
  void setItems(const QStringList& items);
  void addItem(const QString& item);
  void clearItems() { setItems({}); }
  int count() const { return int(items_.size()); }

  // Buttons are laid out column by column: each column holds ceil(count / columns) items.
  int columns() const { return columns_; }
  void setColumns(int columns);

  int itemIndex() const { return index_; }
  // Below -1 becomes -1, beyond the last item the last item (-1 without items).
  void setItemIndex(int index);

  QRadioButton* button(int index) const;

 signals:
  // The index changed, by the operator or by code; never raised when it stays the same.
  void clicked();

 private:
  void rebuild();
  void showIndex();
  void onButtonToggled(int id, bool checked);

  QStringList items_;
  int columns_ = 1;
  int index_ = -1;
  QGridLayout* grid_;
  QButtonGroup* buttons_;
};
