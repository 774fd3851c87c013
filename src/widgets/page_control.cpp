#include "widgets/page_control.h"

#include <QKeyEvent>
#include <QTabBar>

// The tab bar tells its page control which page changes come from the operator's hand.
class TPageControlTabBar : public QTabBar {
 public:
  TPageControlTabBar(TPageControl* owner) : QTabBar(owner), owner_(owner) {}

 protected:
  void mousePressEvent(QMouseEvent* e) override {
    owner_->operatorInput([&] { QTabBar::mousePressEvent(e); });
  }
  void mouseReleaseEvent(QMouseEvent* e) override {
    owner_->operatorInput([&] { QTabBar::mouseReleaseEvent(e); });
  }
  void keyPressEvent(QKeyEvent* e) override {
    owner_->operatorInput([&] { QTabBar::keyPressEvent(e); });
  }
#if QT_CONFIG(wheelevent)
  void wheelEvent(QWheelEvent* e) override {
    owner_->operatorInput([&] { QTabBar::wheelEvent(e); });
  }
#endif

 private:
  TPageControl* owner_;
};

TPageControl::TPageControl(QWidget* parent) : QTabWidget(parent) {
  setTabBar(new TPageControlTabBar(this));
  connect(this, &QTabWidget::currentChanged, this, &TPageControl::onCurrentChanged);
  connect(tabBar(), &QTabBar::tabBarClicked, this, &TPageControl::onTabPressed);
}

void TPageControl::operatorInput(const std::function<void()>& handle) {
  ++operatorDepth_;
  handle();
  --operatorDepth_;
}

int TPageControl::activePageIndex() const { return noPage_ ? -1 : currentIndex(); }

void TPageControl::setActivePageIndex(int index) {
  // Code may run inside the operator's own page-change reaction; nothing it does raises another.
  const int depth = operatorDepth_;
  operatorDepth_ = 0;
  if (index >= 0 && index < count()) {
    setCurrentIndex(index);
    leaveNoPageState();
  } else if (count() > 0 && !noPage_) {
    noPage_ = true;
    if (QWidget* page = currentWidget()) page->hide();
  }
  operatorDepth_ = depth;
}

void TPageControl::leaveNoPageState() {
  if (!noPage_) return;
  noPage_ = false;
  if (QWidget* page = currentWidget()) page->show();
}

void TPageControl::onCurrentChanged(int index) {
  leaveNoPageState();
  if (operatorDepth_ == 0 || index < 0) return;
  const int depth = operatorDepth_;
  operatorDepth_ = 0;
  emit pageChangedByUser(index);
  operatorDepth_ = depth;
}

// A press on the tab already marked current changes nothing, except when no page is shown:
// then it brings that page back as the operator's choice.
void TPageControl::onTabPressed(int index) {
  if (!noPage_ || operatorDepth_ == 0 || index != currentIndex() || !isTabEnabled(index)) return;
  onCurrentChanged(index);
}

void TPageControl::keyPressEvent(QKeyEvent* e) {
  operatorInput([&] { QTabWidget::keyPressEvent(e); });
}

void TPageControl::setTabHighlighted(int index, bool on) {
  if (index < 0 || index >= count()) return;
  tabBar()->setTabTextColor(index, on ? kHighlightColor : QColor());
}

bool TPageControl::isTabHighlighted(int index) const {
  return index >= 0 && index < count() && tabBar()->tabTextColor(index) == kHighlightColor;
}

void TPageControl::clearHighlights() {
  for (int i = 0; i < count(); ++i) setTabHighlighted(i, false);
}
