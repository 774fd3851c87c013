#pragma once
// TUSB_Thread: the program's only conversation with the synthesizer. After setting the
// transfer size of its three endpoints it repeats one cycle until terminated:
//    1 main     prepare the status request header (endpoint 0x86, 32 bytes)
//    2 worker   status transfer, waiting at most the wait time
//    3 worker   last error := the transfer's error code
//    4 main     status hand-over (payload + last error) to the control panel
//    5 main     prepare the receive request header (endpoint 0x82, 8192 bytes)
//    6 worker   receive transfer
//    7 main     receive hand-over (4096 samples) to the receive view
//    8 main     prepare the command request header (endpoint 0x04, 64 bytes)
//    9 main     command hand-over: the control panel fills the 64-byte payload
//   10 worker   command transfer
//   11 worker   20 ms pause
// The status is handed over before the packet of the same cycle is built, so a scene that the
// panel applies because of a status already goes out in that cycle. Terminate is looked at
// only before a cycle: a stop always lets the current cycle finish.
//
// The three request buffers live in the object and are reused: nothing is allocated per cycle.
// Payloads keep their contents between cycles (only headers are rebuilt), so a failed IN
// transfer hands on what the last good one left, zeros before the first.

#include "usb/hand_over_thread.h"
#include "usb/transfer_request.h"

#include <array>
#include <cstdint>
#include <functional>
#include <span>

// Where the hand-overs go; each runs on the main thread. Empty ones are skipped.
struct LinkReceivers {
  std::function<void(const std::array<std::uint8_t, usb::kStatusPayloadSize>& report,
                     std::uint32_t errorCode)>
      showStatus;
  std::function<void(std::span<const std::uint16_t, usb::kReceiveSampleCount> samples)> showRx;
  std::function<void(std::span<std::uint8_t, usb::kCommandPayloadSize> packet)> buildCommand;
};

class TUSB_Thread : public HandOverThread {
 public:
  static constexpr std::uint32_t kPauseMs = 20;  // step 11

  // Created suspended; nothing runs before resume().
  TUSB_Thread(LinkReceivers receivers, usb::TransportOpener opener);
  ~TUSB_Thread() override;

  // Opens and keeps the device; false when it cannot be opened (the error is in openError()).
  bool OpenDeviceHandle(const QString& devicePath);
  // Abandons the device's pending work; false when no device is open. Only after the end.
  bool CancelTransfers();
  int openError() const { return openError_; }
  bool hasDevice() const { return transport_ != nullptr; }

  // Wait on each cycle transfer, ms; set before the first resume.
  void setWaitTime(std::uint32_t ms) { waitTime_ = ms; }
  std::uint32_t waitTime() const { return waitTime_; }

  // Told on the exchange thread when the link comes up (true: the first cycle whose three
  // transfers all went through) and, if it did, when the body ends (false) for any reason.
  // Set before the first resume.
  void setLinkObserver(std::function<void(bool up)> observer) { linkObserver_ = std::move(observer); }

  // Cycles begun since the start (read from any thread).
  std::uint64_t cyclesStarted() const { return cycles_.load(); }

  // Transfer counters for remote clients that wait until the device has their change. They
  // count over every exchange thread of the run, so a restarted exchange goes on counting.
  // Packets are numbered 1, 2, ... as step 9 builds them (on the main thread, inside the
  // hand-over: a change made on the main thread after the count moved is in a later packet).
  static std::uint64_t packetsBuilt() { return packetsBuilt_.load(); }
  // Step 10 transfers that completed without error, and the number of the latest such packet.
  static std::uint64_t commandTransfersCompleted() { return transfersCompleted_.load(); }
  static std::uint64_t lastTransferredPacket() { return lastTransferred_.load(); }
  // The payload of the last packet built; main thread only (only the main thread writes it).
  const usb::CommandRequest::Payload& commandPayload() const { return commandRequest_.payload; }

 protected:
  void Execute() override;
  void ConfigureEndpoints();

 private:
  LinkReceivers receivers_;
  usb::TransportOpener opener_;
  std::unique_ptr<DeviceTransport> transport_;
  int openError_ = 0;
  std::uint32_t lastError_ = 0;
  std::uint32_t waitTime_ = 0;
  std::atomic<std::uint64_t> cycles_{0};
  std::function<void(bool)> linkObserver_;
  std::uint64_t packetNumber_ = 0;  // the packet in the command payload, written in step 9
  static inline std::atomic<std::uint64_t> packetsBuilt_{0};
  static inline std::atomic<std::uint64_t> transfersCompleted_{0};
  static inline std::atomic<std::uint64_t> lastTransferred_{0};

  usb::StatusRequest statusRequest_;
  usb::ReceiveRequest receiveRequest_;
  usb::CommandRequest commandRequest_;

  // The main-thread steps, built once so that a hand-over allocates nothing.
  std::function<void()> prepareStatus_, showStatus_, prepareReceive_, showRx_, prepareCommand_, buildCommand_;
};
