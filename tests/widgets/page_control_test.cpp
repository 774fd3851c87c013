// Page control: the page-change signal belongs to the operator's hand only.

#include "widgets/page_control.h"

#include <gtest/gtest.h>

#include <QLabel>
#include <QSignalSpy>
#include <QTabBar>
#include <QTest>

namespace {

struct PageForm {
  TPageControl pages;
  QSignalSpy spy{&pages, &TPageControl::pageChangedByUser};

  PageForm() {
    for (const char* caption : {"Импульс", "AM", "ЧМ", "Синус", "ВЫКЛ"})
      pages.addTab(new QLabel(caption), caption);
    pages.resize(500, 200);
    pages.show();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&pages));
  }
  void clickTab(int index) {
    QTest::mouseClick(pages.tabBar(), Qt::LeftButton, {}, pages.tabBar()->tabRect(index).center());
  }
  int lastSignalled() const { return spy.isEmpty() ? -2 : spy.last().at(0).toInt(); }
};

TEST(PageControlTest, OperatorClickOnATabSignalsOnce) {
  PageForm f;
  f.clickTab(2);
  EXPECT_EQ(f.spy.count(), 1);
  EXPECT_EQ(f.lastSignalled(), 2);
  EXPECT_EQ(f.pages.activePageIndex(), 2);
  f.clickTab(2);  // already active: no change
  EXPECT_EQ(f.spy.count(), 1);
  f.clickTab(4);
  EXPECT_EQ(f.spy.count(), 2);
  EXPECT_EQ(f.lastSignalled(), 4);
  EXPECT_EQ(f.pages.pageCaption(4), "ВЫКЛ");
}

TEST(PageControlTest, CodeSelectingPagesSignalsNothing) {
  PageForm f;
  f.pages.setActivePageIndex(3);
  EXPECT_EQ(f.pages.activePageIndex(), 3);
  f.pages.setCurrentIndex(1);
  EXPECT_EQ(f.pages.activePageIndex(), 1);
  f.pages.setActivePageIndex(-1);
  f.pages.setActivePageIndex(0);
  EXPECT_EQ(f.spy.count(), 0);
}

TEST(PageControlTest, OperatorKeysSignal) {
  PageForm f;
  f.pages.setActivePageIndex(0);
  QTest::keyClick(&f.pages, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(f.pages.activePageIndex(), 1);
  f.pages.tabBar()->setFocus();
  QTest::keyClick(f.pages.tabBar(), Qt::Key_Right);
  EXPECT_EQ(f.pages.activePageIndex(), 2);
  EXPECT_EQ(f.spy.count(), 2);
  EXPECT_EQ(f.lastSignalled(), 2);
}

TEST(PageControlTest, IndexOutsideThePagesLeavesNoPageActive) {
  for (int outside : {-1, -7, 5, 99}) {
    PageForm f;
    f.pages.setActivePageIndex(1);
    QWidget* page = f.pages.widget(1);
    f.pages.setActivePageIndex(outside);
    EXPECT_EQ(f.pages.activePageIndex(), -1) << outside;
    EXPECT_FALSE(page->isVisible());
    // Selecting the same page again from code brings it back.
    f.pages.setActivePageIndex(1);
    EXPECT_EQ(f.pages.activePageIndex(), 1);
    EXPECT_TRUE(page->isVisible());
    // So does the operator's click on the tab still marked, as a change of page.
    f.pages.setActivePageIndex(outside);
    f.clickTab(1);
    EXPECT_EQ(f.pages.activePageIndex(), 1);
    EXPECT_TRUE(page->isVisible());
    EXPECT_EQ(f.spy.count(), 1);
    // Or a click on any other tab.
    f.pages.setActivePageIndex(outside);
    f.clickTab(3);
    EXPECT_EQ(f.pages.activePageIndex(), 3);
    EXPECT_TRUE(f.pages.widget(3)->isVisible());
    EXPECT_EQ(f.spy.count(), 2);
  }
  TPageControl empty;
  empty.setActivePageIndex(0);
  EXPECT_EQ(empty.activePageIndex(), -1);
}

TEST(PageControlTest, ReactionSwitchingPagesDoesNotSignalAgain) {
  PageForm f;
  QObject::connect(&f.pages, &TPageControl::pageChangedByUser, [&](int index) {
    if (index == 3) f.pages.setCurrentIndex(4);  // as the calibration interlock does
  });
  f.clickTab(3);
  EXPECT_EQ(f.pages.activePageIndex(), 4);
  EXPECT_EQ(f.spy.count(), 1);
}

TEST(PageControlTest, HighlightsColourTheTabText) {
  PageForm f;
  f.pages.setTabHighlighted(1, true);
  f.pages.setTabHighlighted(3, true);
  for (int i = 0; i < f.pages.count(); ++i) EXPECT_EQ(f.pages.isTabHighlighted(i), i == 1 || i == 3) << i;
  EXPECT_EQ(f.pages.tabBar()->tabTextColor(3), TPageControl::kHighlightColor);
  f.pages.clearHighlights();
  for (int i = 0; i < f.pages.count(); ++i) EXPECT_FALSE(f.pages.isTabHighlighted(i)) << i;
  EXPECT_FALSE(f.pages.tabBar()->tabTextColor(3).isValid());
  f.pages.setTabHighlighted(9, true);  // no such tab: ignored
}

}  // namespace
