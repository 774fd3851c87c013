#pragma once
// The synthesizer as remote clients see it: the command tree carried out on the program's
// own windows, through the same setters and reactions as an operator's edit, so every remote
// change shows on the panel and goes out in the next command packet. Main thread only.

#include <QString>
#include <functional>
#include <string>

#include "remote/scpi_session.h"

class TMainForm;
class TRxDrawForm;
class TSchemaForm;
class TLinkForm;

class PanelInstrument : public scpi::Instrument {
 public:
  // The windows it drives; the link window may be null (no device, no packet counts).
  struct Windows {
    TMainForm* panel = nullptr;
    TRxDrawForm* rxView = nullptr;
    TSchemaForm* scenes = nullptr;
    TLinkForm* link = nullptr;
  };
  explicit PanelInstrument(Windows windows) : w_(windows) {}

  int execute(const Call& call, std::string& reply) override;
  std::string identity() override;
  // Every panel field, the receive view's range and load and both calibration boxes back to
  // a fresh panel's values, with the reactions an operator's edits would run. The comment and
  // the scenes stay.
  void reset() override;
  int selfTest() override;
  std::uint64_t packetsBuilt() override;
  std::uint64_t lastTransferredPacket() override;
  // The link window's link state: every answer about the device follows it.
  std::uint64_t linkId() override;
  std::uint64_t transfersCompleted() override;

  // Where the transfer counters come from (the exchange thread's by default; tests count).
  std::function<std::uint64_t()> packetsBuiltCounter;
  std::function<std::uint64_t()> transferredCounter;

 private:
  int source(const Call& call, std::string& reply);
  int trigger(const Call& call, std::string& reply);
  int input(const Call& call, std::string& reply);
  int scene(const Call& call, std::string& reply);
  int statusDevice(std::string& reply);
  int link(std::string& reply);
  int packet(std::string& reply);
  int measurePulse(std::string& reply);
  int traceData(const Call& call, std::string& reply);
  // The device's name: a virtual synthesizer's name, a real one's device path; empty while
  // the link is down.
  QString deviceName() const;

  Windows w_;
};
