#pragma once
// The receive view: the probe-pulse input plotted over time.

#include <QWidget>

class TRxDrawForm : public QWidget {
  Q_OBJECT
 public:
  explicit TRxDrawForm(QWidget* parent = nullptr);

 private:
  void FormCreate();
};

extern TRxDrawForm* RxDrawForm;
