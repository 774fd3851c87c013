#include "persist/window_placement.h"

#include <QEvent>
#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <algorithm>

QRect fitInto(const QRect& frame, const QRect& area, bool resizable) {
  QRect placed = frame;
  if (resizable) placed.setSize(frame.size().boundedTo(area.size()));
  // The least move that puts it inside; a window still larger than the area keeps its
  // corner at the area's corner.
  const int left = std::max(area.left(), std::min(placed.left(), area.right() - placed.width() + 1));
  const int top = std::max(area.top(), std::min(placed.top(), area.bottom() - placed.height() + 1));
  placed.moveTo(left, top);
  return placed;
}

QRect placeOnScreen(const QRect& frame, const QList<QRect>& availableAreas, const QRect& primaryArea,
                    bool resizable) {
  for (const QRect& area : availableAreas) {
    const QRect common = frame.intersected(area);
    if (common.width() >= kMinVisible && common.height() >= kMinVisible) return frame;
  }
  return primaryArea.isEmpty() ? frame : fitInto(frame, primaryArea, resizable);
}

namespace {

// Follows one window after a load: corrects the inner size once the frame is known, and
// checks the position the first time the window is shown. A child of the window without a
// name, so the form-state walk skips it.
class StoredFrameKeeper : public QObject {
 public:
  explicit StoredFrameKeeper(QWidget* window) : QObject(window), window_(window) {
    window->installEventFilter(this);
  }

  static StoredFrameKeeper* of(QWidget* window) {
    for (QObject* c : window->children())
      if (auto* k = dynamic_cast<StoredFrameKeeper*>(c)) return k;
    return new StoredFrameKeeper(window);
  }

  void expect(const QRect& frame, bool sizeable) {
    frame_ = frame;
    sizePending_ = sizeable;
    placePending_ = true;
    if (window_->isVisible()) place();  // a project loaded into a window on screen
    correctSize();
  }

 protected:
  bool eventFilter(QObject* o, QEvent* e) override {
    if (o != window_) return false;
    switch (e->type()) {
      case QEvent::Show:
        // After the show, not in it: moving a window that is being mapped leaves Qt without
        // the window manager's later frame notices.
        if (placePending_) {
          placePending_ = false;
          QTimer::singleShot(0, this, [this] { place(); });
        }
        break;
      case QEvent::Move:  // the window manager's frame shows up as a move after the show
      case QEvent::Resize:
        // Only once the frame is known: a resize by the program itself meanwhile stands.
        if (!margins().isNull()) correctSize();
        break;
      default:
        break;
    }
    return false;
  }

 private:
  QSize margins() const { return window_->frameGeometry().size() - window_->size(); }

  // The outer size the file gave. A hidden window has no frame: its inner size is the outer
  // one, which is also what a save then writes. Once shown, the window manager's frame
  // becomes known and the inner size is made smaller by it. Without a window manager there is
  // never a frame and nothing more to do (and an operator's resize is not fought).
  void correctSize() {
    if (!sizePending_ && !placedHere_) return;
    const QSize m = margins();
    if (m.isNull()) {
      if (sizePending_ && !window_->isVisible()) window_->resize(frame_.size());
      return;
    }
    if (sizePending_) window_->resize(frame_.size() - m);
    sizePending_ = false;
    // A window brought onto the screen was placed by its inner size; now that its frame is
    // known, the whole frame goes inside.
    if (placedHere_) {
      placedHere_ = false;
      if (const QScreen* primary = QGuiApplication::primaryScreen()) {
        const QRect now = window_->frameGeometry();
        const QRect fitted = fitInto(now, primary->availableGeometry(), resizable());
        if (fitted.topLeft() != now.topLeft()) window_->move(fitted.topLeft());
        if (fitted.size() != now.size()) window_->resize(fitted.size() - m);
      }
    }
  }

  bool resizable() const { return window_->minimumSize() != window_->maximumSize(); }

  // A window moved before it had a frame may get one without moving or resizing itself: the
  // window manager frames it where it stands, the title bar above the screen's top edge, and
  // no event tells the window. So the frame is asked for every 100 ms, for up to 3 s, until
  // it is known and the whole frame can be brought inside.
  static constexpr int kFrameChecks = 30;
  void awaitFrame(int checks) {
    QTimer::singleShot(100, this, [this, checks] {
      if (!placedHere_) return;  // a move or resize event did it meanwhile
      if (!margins().isNull())
        correctSize();
      else if (checks > 1)
        awaitFrame(checks - 1);
    });
  }

  void place() {
    placePending_ = false;
    if (!window_->isVisible()) return;
    QList<QRect> areas;
    for (const QScreen* s : QGuiApplication::screens()) areas.append(s->availableGeometry());
    const QScreen* primary = QGuiApplication::primaryScreen();
    if (!primary) return;
    const bool frameKnown = !margins().isNull();
    const QRect current(window_->pos(), sizePending_ ? frame_.size() : window_->frameGeometry().size());
    const QRect placed = placeOnScreen(current, areas, primary->availableGeometry(), resizable());
    if (placed == current) return;
    window_->move(placed.topLeft());
    placedHere_ = !frameKnown;
    if (placedHere_) awaitFrame(kFrameChecks);
    if (placed.size() != current.size()) {  // shrunk to the screen
      frame_ = placed;
      sizePending_ = true;
    }
    correctSize();
  }

  QPointer<QWidget> window_;
  QRect frame_;
  bool sizePending_ = false;
  bool placePending_ = false;
  bool placedHere_ = false;  // moved onto the screen before its frame was known
};

}  // namespace

void applyStoredFrame(QWidget* window, const QRect& frame, bool sizeable) {
  window->move(frame.topLeft());  // a window's pos() is its frame's corner
  StoredFrameKeeper::of(window)->expect(frame, sizeable);
}
