#pragma once
// The SCPI error codes this server reports, their standard texts, the error queue of one
// connection and the event status bits an error sets.

#include <cstdint>
#include <deque>
#include <string>

namespace scpi {

enum ErrorCode : int {
  NoError = 0,
  CommandError = -100,           // the header exists, but not in this form (query / command)
  SyntaxError = -102,            // a character or a construct the parser cannot read
  ParameterNotAllowed = -108,    // more parameters than the command takes
  MissingParameter = -109,       // fewer parameters than the command needs
  UndefinedHeader = -113,        // no such command
  InvalidSuffix = -131,          // a unit that does not fit the value
  CommandProtected = -203,       // a setting while another client holds the device's lock
  ParameterError = -220,         // a parameter of the wrong kind (a text where a number goes)
  SettingsConflict = -221,       // the setting cannot be made in the panel's present state
  DataOutOfRange = -222,         // a value outside the field's limits; nothing is changed
  TooMuchData = -223,            // a line longer than the limit, a text too long for its field
  IllegalParameterValue = -224,  // a name that is not one of the choices
  HardwareError = -240,          // *OPC? / *WAI gave up: the command packet did not reach the device in time
  HardwareMissing = -241,        // no device to wait for, or it went away meanwhile
  QueueOverflow = -350,          // the queue was full; errors were lost
  QueryInterrupted = -410,       // an unread answer dropped by the client's next message
  QueryDeadlocked = -430,        // one line's answers passed their bound: its other queries were not run
};

// The standard text of a code ("Data out of range"); "Unknown error" for others.
const char* errorText(int code);

// Event status register bits (IEEE 488.2).
enum EsrBit : std::uint8_t {
  EsrOperationComplete = 0x01,
  EsrQueryError = 0x04,
  EsrDeviceError = 0x08,
  EsrExecutionError = 0x10,
  EsrCommandError = 0x20,
  EsrPowerOn = 0x80,
};
// Status byte bits.
enum StbBit : std::uint8_t {
  StbErrorAvailable = 0x04,
  StbQuestionableSummary = 0x08,
  StbMessageAvailable = 0x10,
  StbEventSummary = 0x20,
  StbRequestService = 0x40,
  StbOperationSummary = 0x80,
};

// An SCPI status register of this server (OPERation, QUEStionable): the condition as last
// seen, the event register latching the condition's rising bits, and the enable mask of the
// register's summary bit in the status byte. Bit 15 is never used.
struct StatusRegister {
  std::uint16_t condition = 0;
  std::uint16_t event = 0;
  std::uint16_t enable = 0;
  void update(std::uint16_t now) {
    event = std::uint16_t(event | (now & ~condition));
    condition = now;
  }
  bool summary() const { return (event & enable) != 0; }
};

// The meaning of the condition bits, for both the status registers and the docs.
enum OperationBit : std::uint16_t {
  OperationSettling = 0x0002,  // a setting of this connection waits for its transfer to the device
};
enum QuestionableBit : std::uint16_t {
  QuestionableNoLink = 0x0200,  // no link to a device: settings go nowhere, reports are old
};

// The event status bit a code sets: -1xx command, -2xx execution, -3xx device, -4xx query.
std::uint8_t esrBitFor(int code);

// A queue of kCapacity errors. When it is full, the newest entry becomes -350 and further
// errors are lost, as SCPI asks: the client learns that it missed some.
class ErrorQueue {
 public:
  static constexpr std::size_t kCapacity = 16;
  // True when the queue was full: the newest entry is -350 then.
  bool push(int code);
  // The oldest error as the reply of SYSTem:ERRor? ('0,"No error"' when empty); removes it.
  std::string pop();
  void clear() { codes_.clear(); }
  // Every error, oldest first, comma-separated, as SYSTem:ERRor:ALL? answers; empties the queue.
  std::string popAll();
  bool empty() const { return codes_.empty(); }
  std::size_t size() const { return codes_.size(); }

 private:
  std::deque<int> codes_;
};

}  // namespace scpi
