// Radio group: clamped item index, clicked() on every real change, column-major layout.

#include "widgets/radio_group.h"

#include <gtest/gtest.h>

#include <QGridLayout>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTest>

namespace {

struct RadioForm {
  TRadioGroup group;
  QSignalSpy spy{&group, &TRadioGroup::clicked};

  explicit RadioForm(const QStringList& items) {
    group.setTitle("Диапазон");
    group.setItems(items);
    group.show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&group));
  }
  void click(int index) {
    QRadioButton* b = group.button(index);
    QTest::mouseClick(b, Qt::LeftButton, {}, QPoint(8, b->height() / 2));
  }
  int checkedCount() const {
    int n = 0;
    for (int i = 0; i < group.count(); ++i) n += group.button(i)->isChecked() ? 1 : 0;
    return n;
  }
};

TEST(RadioGroupTest, IndexIsClampedAndSignalledOnlyWhenItChanges) {
  struct Case {
    int set;
    int expected;
    bool signalled;
  };
  // Applied in order to one group of three items, starting at -1.
  const Case cases[] = {
      {-5, -1, false}, {0, 0, true},    {0, 0, false}, {2, 2, true},   {5, 2, false},
      {-1, -1, true},  {-1, -1, false}, {3, 2, true},  {-2, -1, true}, {1, 1, true},
  };
  RadioForm f({"300В", "150В", "50В"});
  for (const Case& c : cases) {
    const int before = f.spy.count();
    f.group.setItemIndex(c.set);
    EXPECT_EQ(f.group.itemIndex(), c.expected) << c.set;
    EXPECT_EQ(f.spy.count() - before, c.signalled ? 1 : 0) << c.set;
    EXPECT_EQ(f.checkedCount(), c.expected < 0 ? 0 : 1);
    if (c.expected >= 0) {
      EXPECT_TRUE(f.group.button(c.expected)->isChecked());
    }
  }
  TRadioGroup empty;
  empty.setItemIndex(3);
  EXPECT_EQ(empty.itemIndex(), -1);
}

TEST(RadioGroupTest, OperatorClicksSetTheIndex) {
  RadioForm f({"F1", "F2", "F3", "F4"});
  f.click(2);
  EXPECT_EQ(f.group.itemIndex(), 2);
  EXPECT_EQ(f.spy.count(), 1);
  f.click(2);  // already selected
  EXPECT_EQ(f.spy.count(), 1);
  f.click(0);
  EXPECT_EQ(f.group.itemIndex(), 0);
  EXPECT_EQ(f.spy.count(), 2);
  EXPECT_EQ(f.checkedCount(), 1);

  // From "none" too: the exclusive group must still accept the click.
  f.group.setItemIndex(-1);
  f.click(3);
  EXPECT_EQ(f.group.itemIndex(), 3);
  EXPECT_EQ(f.spy.count(), 4);
}

TEST(RadioGroupTest, NewItemsKeepOrClampTheIndex) {
  RadioForm f({"a", "b", "c"});
  f.group.setItemIndex(1);
  f.spy.clear();
  f.group.setItems({"x", "y", "z", "w"});
  EXPECT_EQ(f.group.itemIndex(), 1);
  EXPECT_TRUE(f.group.button(1)->isChecked());
  EXPECT_EQ(f.spy.count(), 0);
  f.group.setItems({"only"});
  EXPECT_EQ(f.group.itemIndex(), 0);
  EXPECT_EQ(f.spy.count(), 1);
  f.group.clearItems();
  EXPECT_EQ(f.group.itemIndex(), -1);
  EXPECT_EQ(f.spy.count(), 2);
  f.group.addItem("usb-1");
  EXPECT_EQ(f.group.itemIndex(), -1);
  EXPECT_EQ(f.group.items(), QStringList{"usb-1"});
  EXPECT_EQ(f.checkedCount(), 0);
}

TEST(RadioGroupTest, ItemsFillColumnsTopToBottom) {
  struct Case {
    int items, columns;
    std::vector<std::pair<int, int>> cells;  // (row, column) of each item
  };
  const Case cases[] = {
      {3, 1, {{0, 0}, {1, 0}, {2, 0}}},
      {3, 3, {{0, 0}, {0, 1}, {0, 2}}},
      {5, 3, {{0, 0}, {1, 0}, {0, 1}, {1, 1}, {0, 2}}},
      {9, 2, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}, {0, 1}, {1, 1}, {2, 1}, {3, 1}}},
      {2, 4, {{0, 0}, {0, 1}}},
  };
  for (const Case& c : cases) {
    TRadioGroup g;
    QStringList items;
    for (int i = 0; i < c.items; ++i) items << QString::number(i);
    g.setItems(items);
    g.setColumns(c.columns);
    auto* grid = qobject_cast<QGridLayout*>(g.layout());
    ASSERT_NE(grid, nullptr);
    for (int i = 0; i < c.items; ++i) {
      int row = -1, column = -1, rowSpan = 0, columnSpan = 0;
      grid->getItemPosition(grid->indexOf(g.button(i)), &row, &column, &rowSpan, &columnSpan);
      EXPECT_EQ(std::make_pair(row, column), c.cells[i]) << c.items << " in " << c.columns << ", item " << i;
    }
  }
}

}  // namespace
