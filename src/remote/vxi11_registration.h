#pragma once
// The core channel's entry in the system's rpcbind, through which VISA libraries and
// lxi-tools find the port. It is kept for as long as this object lives: made as soon as
// rpcbind takes it (tried again every kRetryMs until then), looked at every kCheckMs once made,
// and made again when it has gone (rpcbind restarted and lost its table). An entry of another
// running copy is never removed; one whose port nobody listens on any more (a copy that
// crashed) is replaced. rpcbind answers at once when it runs, but with it stopped a call can
// block for about a minute: every look and registration runs on a worker thread, one at a
// time, never on the main thread, and the outcome comes back by a queued call.

#include <QObject>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>

class RpcbindRegistration : public QObject {
  Q_OBJECT
 public:
  static constexpr int kRetryMs = 5000;   // while the entry is not there
  static constexpr int kCheckMs = 10000;  // while it is
  // How long the destructor waits for the withdrawal before the program goes on exiting.
  static constexpr int kWithdrawWaitMs = 500;

  // Starts registering program/version for TCP on port at once.
  RpcbindRegistration(std::uint32_t program, std::uint32_t version, quint16 port, QObject* parent = nullptr);
  // Withdraws the entry if it is this copy's; a look still under way withdraws what it made
  // when it completes.
  ~RpcbindRegistration() override;

  bool registered() const { return registered_; }

 signals:
  // On this object's thread, when the entry comes or goes, or the reason it is not there
  // changes: reason says why, for the events window (empty while registered). renewed: the
  // entry had gone from rpcbind and has been made again.
  void changed(bool registered, const QString& reason, bool renewed);

 private:
  void look();
  void outcome(const QString& reason, bool renewed);

  struct Shared;
  std::shared_ptr<Shared> shared_;
  QTimer timer_;
  bool registered_ = false;
  bool known_ = false;  // an outcome has come
  QString reason_;
};
