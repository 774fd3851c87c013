#pragma once
// Termination requests (signals, the session's end) and the boxes that are open when they come.
// The exit answers only the boxes it raises itself (the drive question, a file that cannot be
// written), and those only once the exit has been asked for again: they get the answer that
// lets it save, Yes or OK. A box that the operator's own action opened ("Записать в него?" over
// a project) is the operator's: a termination request closes it with the answer that changes
// nothing, No or Cancel, and never says Yes for the operator.

#include <QObject>
#include <functional>

class QWidget;

class ExitBoxes : public QObject {
 public:
  // exitRunning: whether the exit has begun (a box shown then is the exit's own).
  ExitBoxes(std::function<bool()> exitRunning, QObject* parent = nullptr);
  ~ExitBoxes() override;

  // A termination request. The first closes the operator's boxes without a change and then
  // runs close: queued, so that the caller (a socket notifier) returns before the exit's boxes
  // run their loops, in which the next request must be heard; or at once, for the session
  // manager, which may end the process when its request returns. A request once the exit has
  // begun makes it go on without waiting: its boxes are answered now and as soon as they show.
  void request(const std::function<void()>& close, bool queued);

  // Whether the dialog was raised by the exit (marked when it was shown).
  static bool raisedByExit(const QWidget* dialog);

 protected:
  bool eventFilter(QObject* o, QEvent* e) override;

 private:
  void closeOperatorsBoxes();
  void insist();

  std::function<bool()> exitRunning_;
  bool requested_ = false;
  bool insisting_ = false;
};
