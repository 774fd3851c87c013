#include "usb/usb_thread.h"

#include <cerrno>

TUSB_Thread::TUSB_Thread(LinkReceivers receivers, usb::TransportOpener opener)
    : receivers_(std::move(receivers)), opener_(std::move(opener)) {
  prepareStatus_ = [this] { statusRequest_.prepare(usb::kStatusEndpoint); };
  showStatus_ = [this] {
    if (receivers_.showStatus) receivers_.showStatus(statusRequest_.payload, lastError_);
  };
  prepareReceive_ = [this] { receiveRequest_.prepare(usb::kReceiveEndpoint); };
  showRx_ = [this] {
    if (receivers_.showRx) receivers_.showRx(receiveRequest_.payload);
  };
  prepareCommand_ = [this] { commandRequest_.prepare(usb::kCommandEndpoint); };
  buildCommand_ = [this] {
    if (receivers_.buildCommand) receivers_.buildCommand(commandRequest_.payload);
    packetNumber_ = ++packetsBuilt_;
  };
}

TUSB_Thread::~TUSB_Thread() { endBeforeDestruction(); }

bool TUSB_Thread::OpenDeviceHandle(const QString& devicePath) {
  openError_ = 0;
  transport_.reset();
  if (opener_) transport_ = opener_(devicePath, &openError_);
  if (!transport_ && openError_ == 0) openError_ = ENODEV;
  return transport_ != nullptr;
}

bool TUSB_Thread::CancelTransfers() { return transport_ && transport_->cancel(); }

void TUSB_Thread::ConfigureEndpoints() {
  // Each endpoint's transfer size is exactly its payload length; the outcomes are not looked
  // at: a device that refuses shows up in the cycle's last error.
  struct Endpoint {
    std::uint8_t address;
    std::uint32_t size;
  };
  static constexpr std::array<Endpoint, 3> kEndpoints{
      {{usb::kStatusEndpoint, usb::StatusRequest::kPayloadBytes},
       {usb::kReceiveEndpoint, usb::ReceiveRequest::kPayloadBytes},
       {usb::kCommandEndpoint, usb::CommandRequest::kPayloadBytes}}};
  for (const Endpoint& e : kEndpoints) {
    usb::TransferSizeRequest r = usb::makeTransferSizeRequest(e.address, e.size);
    usb::issueRequest(transport_.get(), driver_ioctl::kSetTransferSize, r.data(), std::uint32_t(r.size()),
                      usb::kConfigureWaitMs);
  }
}

void TUSB_Thread::Execute() {
  // The link is down again when the body ends, by a stop or by a hand-over that threw.
  bool up = false;
  struct LinkDown {
    const std::function<void(bool)>& observer;
    const bool& up;
    ~LinkDown() {
      if (up && observer) observer(false);
    }
  } linkDown{linkObserver_, up};
  ConfigureEndpoints();
  DeviceTransport* const device = transport_.get();
  while (!isTerminated()) {
    ++cycles_;
    checkpoint();
    synchronize(prepareStatus_);  // 1
    checkpoint();
    const int statusError =  // 2
        usb::issueRequest(device, driver_ioctl::kTransfer, statusRequest_.bytes(), statusRequest_.size(),
                          waitTime_);
    lastError_ = std::uint32_t(statusError);  // 3
    checkpoint();
    synchronize(showStatus_);  // 4
    checkpoint();
    synchronize(prepareReceive_);  // 5
    checkpoint();
    const int receiveError =  // 6
        usb::issueRequest(device, driver_ioctl::kTransfer, receiveRequest_.bytes(), receiveRequest_.size(),
                          waitTime_);
    checkpoint();
    synchronize(showRx_);  // 7
    checkpoint();
    synchronize(prepareCommand_);  // 8
    checkpoint();
    synchronize(buildCommand_);  // 9
    checkpoint();
    const int commandError =  // 10
        usb::issueRequest(device, driver_ioctl::kTransfer, commandRequest_.bytes(), commandRequest_.size(),
                          waitTime_);
    if (commandError == 0) {
      ++transfersCompleted_;
      lastTransferred_.store(packetNumber_);
    }
    if (!up && statusError == 0 && receiveError == 0 && commandError == 0) {
      up = true;
      if (linkObserver_) linkObserver_(true);
    }
    checkpoint();
    std::this_thread::sleep_for(std::chrono::milliseconds(kPauseMs));  // 11
  }
}
