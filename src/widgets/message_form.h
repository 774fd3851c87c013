#pragma once
// The small waiting-message window shown during the long synchronous steps at start
// and exit. Those steps keep the main thread busy, so the text is painted at once.

#include <QLabel>
#include <QPointer>
#include <QWidget>

class TMessageForm : public QWidget {
  Q_OBJECT
 public:
  // The window is destroyed with its owner and stays above it, but it is not the owner's
  // child: the exit's save disables the panel, and a child would be drawn greyed out then.
  explicit TMessageForm(QWidget* owner);
  ~TMessageForm() override;

  // Sets the line of text and repaints it before returning. A text wider than the window
  // loses its middle ("…"), so both the start and the file name at the end stay readable.
  void ShowMessageText(const QString& text);
  QString messageText() const { return text_; }

  // Shows the window and waits, at most timeoutMs, until the window system has really put it
  // on screen, then paints it. Only window-system events other than user input are handled
  // meanwhile: no socket notifier runs (the exchange thread's hand-overs wake the main thread
  // through one, and the device and signal watchers use them too), so no exchange step and
  // no other part of the program runs while the caller waits here.
  void showAndExpose(int timeoutMs = 400);

  QLabel* MessageLabel;

 protected:
  void showEvent(QShowEvent* e) override;

 private:
  QString text_;
  QPointer<QWidget> owner_;
};
