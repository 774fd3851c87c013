#pragma once
// The up/down button pair at the right edge of the spin fields. Pressing a half
// steps once at once; holding it repeats: first after 400 ms, then every 100 ms, never
// earlier (the times are checked on the fields' clock, nowMs()).

#include <QTimer>
#include <QWidget>

class SpinButton : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kFirstRepeatMs = 400;
  static constexpr int kRepeatMs = 100;

  explicit SpinButton(QWidget* parent = nullptr);
  QSize sizeHint() const override { return {15, 17}; }

  int pressedHalf() const { return pressed_; }  // +1 upper, -1 lower, 0 none

 signals:
  void step(int direction);  // +1 up, -1 down

 protected:
  void paintEvent(QPaintEvent*) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;

 private:
  void repeat();
  int pressed_ = 0;
  qint64 nextStepMs_ = 0;  // nowMs() of the next repeat
  QTimer repeatTimer_{this};
};
