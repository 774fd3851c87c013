#pragma once
// The small waiting-message window shown during the long synchronous steps at start
// and exit. Those steps keep the main thread busy, so the text is painted at once.

#include <QLabel>
#include <QWidget>

class TMessageForm : public QWidget {
  Q_OBJECT
 public:
  explicit TMessageForm(QWidget* owner);
  ~TMessageForm() override;

  // Sets the line of text and repaints it before returning.
  void ShowMessageText(const QString& text);
  QString messageText() const { return MessageLabel->text(); }

  QLabel* MessageLabel;

 protected:
  void showEvent(QShowEvent* e) override;
};

extern TMessageForm* MessageForm;
