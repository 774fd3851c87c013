#pragma once
// A slider that can mark a selected stretch of its scale beside the groove, as the
// vertical offset slider marks its middle (-1..1) so the zero position is easy to find.

#include <QSlider>

class TTrackBar : public QSlider {
  Q_OBJECT
 public:
  explicit TTrackBar(Qt::Orientation orientation, QWidget* parent = nullptr);

  // An empty selection (start > end) marks nothing.
  void setSelection(int start, int end);
  int selectionStart() const { return selStart_; }
  int selectionEnd() const { return selEnd_; }

 protected:
  void paintEvent(QPaintEvent* e) override;

 private:
  int selStart_ = 0;
  int selEnd_ = -1;
};
