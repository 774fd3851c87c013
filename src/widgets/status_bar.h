#pragma once
// A status bar of fixed-width text panels along the bottom of a window; the last panel
// takes the remaining width.

#include <QFrame>
#include <QLabel>
#include <QList>

class TStatusBar : public QFrame {
  Q_OBJECT
 public:
  explicit TStatusBar(QWidget* parent = nullptr);

  // Adds a panel; width 0 or less stretches it over the rest.
  void addPanel(int width, const QString& text);
  int panelCount() const { return int(panels_.size()); }
  QString panelText(int index) const;
  void setPanelText(int index, const QString& text);

 private:
  QList<QLabel*> panels_;
};
