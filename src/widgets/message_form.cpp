#include "widgets/message_form.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QScreen>
#include <QThread>
#include <QWindow>

namespace {

// Deletes the message window when its owner goes (a QObject child of the owner).
class OwnedWindow : public QObject {
 public:
  OwnedWindow(QObject* owner, QWidget* window) : QObject(owner), window_(window) {}
  ~OwnedWindow() override { delete window_.data(); }

 private:
  QPointer<QWidget> window_;
};

// Swallows socket-notifier activations while installed on the application. The glib event
// dispatcher (the usual one under X11) ignores QEventLoop::ExcludeSocketNotifiers, but it
// delivers every activation as a QEvent::SockAct sent through the application's filters. A
// swallowed activation is not lost: the descriptor stays readable and fires again later.
class SocketNotifierHold : public QObject {
 protected:
  bool eventFilter(QObject*, QEvent* e) override {
    return e->type() == QEvent::SockAct || e->type() == QEvent::SockClose;
  }
};

constexpr int kLabelLeft = 8;
constexpr int kLabelTop = 16;

}  // namespace

TMessageForm::TMessageForm(QWidget* owner)
    : QWidget(nullptr, Qt::Tool | Qt::WindowStaysOnTopHint | Qt::WindowTitleHint | Qt::CustomizeWindowHint),
      owner_(owner) {
  if (owner) new OwnedWindow(owner, this);
  setObjectName(QStringLiteral("MessageForm"));
  setWindowTitle(QStringLiteral("Программа управления синтезатором QZ418"));
  setFixedSize(342, 47);
  setAttribute(Qt::WA_ShowWithoutActivating);  // it never takes input
  // Laid out, like the panel, for an 8-point font.
  QFont f = font();
  f.setPointSize(8);
  setFont(f);
  MessageLabel = new QLabel(this);
  MessageLabel->setObjectName(QStringLiteral("MessageLabel"));
  f.setBold(true);
  MessageLabel->setFont(f);
  MessageLabel->setGeometry(kLabelLeft, kLabelTop, width() - 2 * kLabelLeft, QFontMetrics(f).height());
  ShowMessageText(QStringLiteral("Сообщение"));
}

void TMessageForm::ShowMessageText(const QString& text) {
  text_ = text;
  const QFontMetrics fm(MessageLabel->font());
  MessageLabel->setText(fm.elidedText(text, Qt::ElideMiddle, MessageLabel->width()));
  // The caller keeps the main thread busy: paint now, not at the next event loop turn.
  if (MessageLabel->isVisible()) MessageLabel->repaint();
}

void TMessageForm::showAndExpose(int timeoutMs) {
  show();
  QWindow* window = windowHandle();
  if (!window) return;
  SocketNotifierHold hold;
  qApp->installEventFilter(&hold);
  QElapsedTimer clock;
  clock.start();
  while (!window->isExposed() && clock.elapsed() < timeoutMs) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents | QEventLoop::ExcludeSocketNotifiers);
    if (!window->isExposed()) QThread::msleep(2);
  }
  qApp->removeEventFilter(&hold);
  repaint();
}

void TMessageForm::showEvent(QShowEvent* e) {
  if (const QScreen* s = owner_ && owner_->screen() ? owner_->screen() : QGuiApplication::primaryScreen()) {
    const QRect r = s->availableGeometry();
    move(r.center() - QPoint(frameGeometry().width() / 2, frameGeometry().height() / 2));
  }
  QWidget::showEvent(e);
  // Stay above the owner as its transient window (the owner is no parent, see the header).
  if (owner_ && owner_->windowHandle() && windowHandle())
    windowHandle()->setTransientParent(owner_->windowHandle());
  // Make the current text visible right away even while the caller blocks the loop.
  repaint();
}

TMessageForm::~TMessageForm() = default;
