#pragma once
// Tabbed pages whose page-change reaction belongs to the operator alone: selecting a page
// from code raises nothing, so code that switches pages runs the reaction itself.

#include <QColor>
#include <QTabWidget>
#include <functional>

class TPageControl : public QTabWidget {
  Q_OBJECT
  Q_PROPERTY(int activePageIndex READ activePageIndex WRITE setActivePageIndex)

 public:
  // Text colour of a highlighted tab.
  static inline const QColor kHighlightColor{255, 0, 0};

  explicit TPageControl(QWidget* parent = nullptr);

  // The page shown, -1 when none is (no pages, or set so from code).
  int activePageIndex() const;
  // An index outside the pages leaves no page active: the tab bar cannot show that, so
  // the tab stays marked, but the page itself is hidden and activePageIndex() reads -1
  // until a page is selected again. Raises no signal.
  void setActivePageIndex(int index);

  QString pageCaption(int index) const { return tabText(index); }

  void setTabHighlighted(int index, bool on);
  bool isTabHighlighted(int index) const;
  void clearHighlights();

 signals:
  // The operator selected a page: a click on a tab, the keys of the tab bar, Ctrl+Tab.
  void pageChangedByUser(int index);

 protected:
  void keyPressEvent(QKeyEvent* e) override;

 private:
  friend class TPageControlTabBar;
  void operatorInput(const std::function<void()>& handle);
  void onCurrentChanged(int index);
  void onTabPressed(int index);
  void leaveNoPageState();

  int operatorDepth_ = 0;  // > 0 while an operator's event on the tabs is being handled
  bool noPage_ = false;
};
