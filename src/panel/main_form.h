#pragma once
// The control panel: the application's main window. Closing it ends the program.

#include <QWidget>

class TMainForm : public QWidget {
  Q_OBJECT
 public:
  explicit TMainForm(QWidget* parent = nullptr);

 signals:
  void closed();

 protected:
  void closeEvent(QCloseEvent* e) override;

 private:
  void FormCreate();
};

extern TMainForm* MainForm;
