#include "shell/exit_boxes.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDialog>
#include <QEvent>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTimer>
#include <initializer_list>

namespace {

constexpr char kRaisedByExit[] = "qz418RaisedByExit";

void clickFirst(QMessageBox* box, std::initializer_list<QMessageBox::StandardButton> buttons) {
  for (const QMessageBox::StandardButton which : buttons)
    if (QAbstractButton* b = box->button(which)) {
      b->click();
      return;
    }
  if (QAbstractButton* b = box->defaultButton())
    b->click();
  else
    box->accept();
}

// The exit's own box: the answer that lets it save. Other dialogs are cancelled.
void answerForExit(QWidget* w) {
  if (auto* box = qobject_cast<QMessageBox*>(w))
    clickFirst(box, {QMessageBox::Yes, QMessageBox::Ok});
  else if (auto* d = qobject_cast<QDialog*>(w))
    d->reject();
}

// The operator's box: the answer that changes nothing.
void answerChangingNothing(QWidget* w) {
  if (auto* box = qobject_cast<QMessageBox*>(w))
    clickFirst(box, {QMessageBox::No, QMessageBox::Cancel, QMessageBox::Ok});
  else if (auto* d = qobject_cast<QDialog*>(w))
    d->reject();
}

void answer(QWidget* w) { ExitBoxes::raisedByExit(w) ? answerForExit(w) : answerChangingNothing(w); }

}  // namespace

ExitBoxes::ExitBoxes(std::function<bool()> exitRunning, QObject* parent)
    : QObject(parent), exitRunning_(std::move(exitRunning)) {
  qApp->installEventFilter(this);
}

ExitBoxes::~ExitBoxes() {
  if (qApp) qApp->removeEventFilter(this);
}

bool ExitBoxes::raisedByExit(const QWidget* dialog) { return dialog->property(kRaisedByExit).toBool(); }

void ExitBoxes::request(const std::function<void()>& close, bool queued) {
  if (requested_ || exitRunning_()) {
    insist();
    return;
  }
  requested_ = true;
  closeOperatorsBoxes();
  if (queued)
    QTimer::singleShot(0, this, close);
  else
    close();
}

void ExitBoxes::closeOperatorsBoxes() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    auto* d = qobject_cast<QDialog*>(w);
    if (d && d->isVisible() && !raisedByExit(d)) answerChangingNothing(d);
  }
}

void ExitBoxes::insist() {
  insisting_ = true;
  closeOperatorsBoxes();
  // Each answer ends one nested loop; answer from the top down.
  for (int guard = 0; guard < 16; ++guard) {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || !modal->isVisible()) break;
    answer(modal);
  }
}

bool ExitBoxes::eventFilter(QObject* o, QEvent* e) {
  if (e->type() != QEvent::Show || !o->isWidgetType() || !qobject_cast<QDialog*>(o)) return false;
  auto* w = static_cast<QWidget*>(o);
  if (!w->property(kRaisedByExit).isValid()) w->setProperty(kRaisedByExit, exitRunning_());
  if (insisting_) {
    QPointer<QWidget> box(w);
    // After the box's own show; it then runs its loop, which runs this.
    QTimer::singleShot(0, this, [box] {
      if (box && box->isVisible()) answer(box);
    });
  }
  return false;
}
