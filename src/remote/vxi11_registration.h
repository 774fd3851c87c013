#pragma once
// The core channel's entry in the system's rpcbind, through which VISA libraries and
// lxi-tools find the port. rpcbind answers at once when it runs, but with it stopped a
// registration call blocks for about a minute: registering and withdrawing run on a worker
// thread of their own, never on the main thread, and the outcome comes back by a queued call.

#include <QObject>
#include <QString>
#include <cstdint>
#include <memory>

class RpcbindRegistration : public QObject {
  Q_OBJECT
 public:
  // How long the destructor waits for the withdrawal before the program goes on exiting.
  static constexpr int kWithdrawWaitMs = 500;

  // Starts registering program/version for TCP on port at once. A stale entry (its port no
  // longer answers the program's null call: a copy that crashed) is replaced; a live one is
  // left alone.
  RpcbindRegistration(std::uint32_t program, std::uint32_t version, quint16 port, QObject* parent = nullptr);
  // Withdraws the entry if it was made; a registration still under way withdraws itself
  // when it completes.
  ~RpcbindRegistration() override;

 signals:
  // On this object's thread. reason says, for the events window, why it is not registered.
  void finished(bool registered, const QString& reason);

 private:
  struct Shared;
  std::shared_ptr<Shared> shared_;
};
