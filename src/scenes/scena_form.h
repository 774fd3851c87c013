#pragma once
// One scene: a window that is never shown, holding a copy of the panel's setting controls
// (and of the receive view's two input settings) under the same names, plus the scene's name.
// Being a window of real controls, it is stored by the same SaveFormState / LoadFormState as
// every other window, in a section named after it.

#include <QWidget>
#include <vector>

class QLineEdit;

class TScenaForm : public QWidget {
  Q_OBJECT
 public:
  // number 1-9: the window name ("ScenaForm", "ScenaForm_1" ...) and title ("Сцена 1" ...).
  TScenaForm(QWidget* owner, int number);

  // The control of sceneFields()[index]; null outside the list.
  QWidget* field(int index) const;
  // By name; null if a scene has no such field.
  QWidget* field(const QString& name) const;

  // The scene's name.
  QLineEdit* CommentEdit = nullptr;

  // A scene runs no behaviour of its own: its page changes do nothing.
  void Ch1_PageControlChange() {}
  void Ch2_PageControlChange() {}

  // A scene is never shown, whatever a file says about its visibility.
  void setVisible(bool visible) override;

 private:
  std::vector<QWidget*> fields_;
};
