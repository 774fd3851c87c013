#pragma once
// Discovery of the attached synthesizers and the text of one device's properties.

#include "platform/devices.h"

#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <vector>

// One synthesizer as found: its device path and all its Plug and Play properties, read once
// when the record is made and never again. A property the device lacks is empty or 0.
class TUSBPnPInfo : public DeviceRecord {
 public:
  explicit TUSBPnPInfo(DeviceRecord record) : DeviceRecord(std::move(record)) {}
};

// The program's device list, in enumeration order; it owns its records.
using TUSBPnPList = std::vector<std::unique_ptr<TUSBPnPInfo>>;

// The synthesizer's plain hardware ID; a device is listed when one of its hardware IDs,
// upper-cased, is exactly this (an ID with a revision suffix does not count by itself).
inline constexpr char kSynthesizerHardwareId[] = "USB\\VID_5D3C&PID_5D3C";

bool isSynthesizerHardwareId(const QString& id);

// Replaces the list with the synthesizers among the enumerated devices, in their order. A
// null enumerator leaves the list empty.
void FindSynthesizers(TUSBPnPList& list, DeviceEnumerator* enumerator);

// Only the first six listed synthesizers can be shown.
inline constexpr int kMaxShownDevice = 5;

// The property lines of the record at position, ending with an empty line; one error line
// when the position is outside 0..5 or past the list's end.
QStringList devicePropertyLines(const TUSBPnPList& list, int position);

// Appends those lines, unnumbered, through appendLine (the events window's log box).
void ShowDeviceProperties(const TUSBPnPList& list, int position,
                          const std::function<void(const QString&)>& appendLine);
