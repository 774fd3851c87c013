#pragma once
// What the events window and the exchange it runs reach of the control panel, which stands
// above them: the cycle's two panel hand-overs, the status display and the link text in the
// panel's status bar. Implemented by the panel, handed to the events window by the shell.

#include <QString>
#include <array>
#include <cstdint>
#include <span>

#include "usb/transfer_request.h"

class LinkPanel {
 public:
  virtual ~LinkPanel() = default;
  // Step 6 of a cycle: the status report (and the status request's error code) onto the panel.
  virtual void ShowStatusReport(const std::array<std::uint8_t, usb::kStatusPayloadSize>& report,
                                std::uint32_t errorCode) = 0;
  // Step 9: bytes 0-59 of the command packet from the panel's controls.
  virtual void BuildCommandPacket(std::span<std::uint8_t, usb::kCommandPayloadSize> packet) const = 0;
  // The status display back to "???" (no link).
  virtual void ClearStatusDisplay() = 0;
  // The link text in the first panel of the status bar.
  virtual void setLinkText(const QString& text) = 0;
  // The status texts as the panel shows them, one line, for the engineers' trace.
  virtual QString shownStatusTexts() const = 0;
};
