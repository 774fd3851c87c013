#include "shell/message_form.h"

#include <QApplication>
#include <QScreen>

TMessageForm* MessageForm = nullptr;

TMessageForm::TMessageForm(QWidget* owner)
    : QWidget(owner, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::CustomizeWindowHint) {
  setObjectName(QStringLiteral("MessageForm"));
  setWindowTitle(QStringLiteral("Программа управления синтезатором QZ418"));
  setFixedSize(342, 47);
  setAttribute(Qt::WA_ShowWithoutActivating);  // it never takes input
  MessageLabel = new QLabel(QStringLiteral("Сообщение"), this);
  MessageLabel->setObjectName(QStringLiteral("MessageLabel"));
  QFont f = MessageLabel->font();
  f.setBold(true);
  MessageLabel->setFont(f);
  MessageLabel->move(8, 16);
  MessageLabel->resize(326, MessageLabel->sizeHint().height());
}

void TMessageForm::ShowMessageText(const QString& text) {
  MessageLabel->setText(text);
  MessageLabel->resize(qMax(326, MessageLabel->sizeHint().width()), MessageLabel->sizeHint().height());
  // The caller keeps the main thread busy: paint now, not at the next event loop turn.
  if (MessageLabel->isVisible()) MessageLabel->repaint();
}

void TMessageForm::showEvent(QShowEvent* e) {
  if (const QScreen* s = screen() ? screen() : QGuiApplication::primaryScreen()) {
    const QRect r = s->availableGeometry();
    move(r.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
  QWidget::showEvent(e);
  // Make the current text visible right away even while the caller blocks the loop.
  repaint();
}

TMessageForm::~TMessageForm() {
  if (MessageForm == this) MessageForm = nullptr;
}
