#pragma once
// One client connection's interpreter, without the socket: it takes the bytes received,
// cuts them into lines (LF, CR LF accepted; at most kMaxLine bytes), runs each line's units
// through the tree and the IEEE 488.2 common commands, and collects the replies. It keeps the
// connection's own status registers and error queue.
//
// *OPC? and *WAI wait until a command packet built after the earlier commands has been
// transferred to the device without error; the session learns that from the instrument's
// two counters and is asked again (run()) until it has happened. Nothing here blocks. A wait
// that cannot end that way (no link, the link lost meanwhile, a device that stopped
// answering) ends without a reply and with an error, so that no late reply can ever be read
// as the answer to a later query.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "remote/scpi_errors.h"
#include "remote/scpi_parser.h"
#include "remote/scpi_tree.h"

namespace scpi {

// What a connection asks of the instrument. Runs on the thread of the session.
class Instrument {
 public:
  virtual ~Instrument() = default;
  // Carries out one tree command (set, or query with its reply in reply, no terminator).
  // Returns 0 or an error code; on an error nothing was changed.
  struct Call {
    const CommandNode& node;
    const Captures& captures;
    const std::vector<Parameter>& params;
    bool query;
    bool asciiTrace;  // this connection chose FORMat ASCii
  };
  virtual int execute(const Call& call, std::string& reply) = 0;
  virtual std::string identity() = 0;
  virtual void reset() = 0;
  virtual int selfTest() = 0;  // 0: the link is up
  // Packets built so far, and the number of the latest packet whose transfer completed
  // without error (packets are numbered 1, 2, ... in build order).
  virtual std::uint64_t packetsBuilt() = 0;
  virtual std::uint64_t lastTransferredPacket() = 0;
  // 0, or the error every setting of this connection gets now (-203 while another client
  // holds the device's lock); queries still answer.
  virtual int settingRefused() { return 0; }
  // Non-zero while the link to a device is up, and different each time it comes up.
  virtual std::uint64_t linkId() = 0;
  // Command transfers completed without error so far.
  virtual std::uint64_t transfersCompleted() = 0;
  // A steady clock in milliseconds.
  virtual std::int64_t nowMs();
};

class Session {
 public:
  static constexpr std::size_t kMaxLine = 64 * 1024;  // bytes before the LF
  // Units run per call of run() before it gives the event loop back.
  static constexpr int kUnitsPerRun = 64;
  // *OPC? / *WAI give up after this long without a single command transfer that went
  // through (ms).
  static constexpr std::int64_t kStallMs = 2000;
  // ... and on the raw socket after this long in all, answered or not (ms): a client's 2 s
  // timeout then never sees a late answer.
  static constexpr std::int64_t kSocketWaitMs = 1450;
  // One line's answers: past this the line's remaining queries are not run (-430).
  static constexpr std::size_t kMaxLineAnswers = 1024 * 1024;

  explicit Session(Instrument& instrument) : instrument_(instrument) {}

  // How many more bytes receive() takes now; the caller leaves the rest in the socket.
  std::size_t space() const;
  void receive(std::string_view bytes);

  enum class State {
    Idle,     // nothing left to do until more bytes come
    Busy,     // more to do: call run() again soon (after the event loop had its turn)
    Waiting,  // waiting for a transfer (*OPC?, *WAI): call run() again when counters move
  };
  // Runs queued work; finished replies (each line's answers joined by ';', ended by LF) are
  // appended to out. enough, when given, is asked after each unit whether the slice has taken
  // its time (some units cost far more than others: a trace in text, a reset).
  State run(std::string& out, const std::function<bool()>& enough = {});
  // Whether an *OPC (without '?') is still waiting to set the operation-complete bit.
  bool opcPending() const { return opcPending_; }

  // A device clear: drops the input not yet run, the line being run with its answers, and a
  // waiting *OPC?, *WAI or *OPC. Registers and the error queue stay.
  void clearIo();
  // Every *OPC? / *WAI of this session gives up after ms in all (0: only the stall rule).
  void setWaitLimit(std::int64_t ms) { waitLimitMs_ = ms; }
  // Whether the line being run owes the client an answer (one collected, or *OPC? waiting).
  bool answerOwed() const { return lineActive_ && (hasReply_ || (waiting_ && waitReplies_)); }
  // Drops the line being run with its answers and its wait (a new message interrupts it, or
  // an abort); the input after it stays.
  void dropLine();
  // Whether nothing is being run or waiting to run.
  bool idle() const { return !lineActive_ && input_.size() == consumed_; }
  std::uint8_t sre() const { return sre_; }

  ErrorQueue& errors() { return errors_; }
  std::uint8_t esr() const { return esr_; }
  std::uint8_t statusByte() const;
  void pushError(int code);

 private:
  bool takeLine();
  bool runUnit(const Unit& unit);  // false: waiting
  void runCommon(const Unit& unit);
  void runTree(const Unit& unit);
  void addReply(std::string_view text);
  void checkOpc();
  // A setting made outside the tree's own dispatch (*SAV, *RCL): as its command would run.
  int runSetting(Command command, const std::vector<Parameter>& params);
  // STATus:OPERation, STATus:QUEStionable and STATus:PRESet.
  int runStatus(Command command, const Captures& captures, const Unit& unit);
  // A setting went to the panel: it waits for a packet built from now on to be transferred.
  void noteSetting();
  // The status registers' conditions as they are now (before every unit).
  void refreshConditions();
  // Why the wait under way cannot end with a transfer: 0 while it still can.
  int waitFailure();

  Instrument& instrument_;
  ErrorQueue errors_;
  std::uint8_t esr_ = 0;  // a new connection is no power-on: PON stays clear
  std::uint8_t ese_ = 0;
  std::uint8_t sre_ = 0;
  bool asciiTrace_ = false;
  StatusRegister operation_;
  StatusRegister questionable_;
  bool settingWaits_ = false;       // OPERation's settling bit: a setting not yet transferred
  std::uint64_t settingTarget_ = 0;  // ... until a packet built after this one is

  std::string input_;         // received, not yet cut into lines
  std::size_t consumed_ = 0;  // bytes of input_ already taken
  bool discarding_ = false;   // inside a line that was too long: drop up to its LF

  std::string lineText_;      // the line being run
  UnitReader line_;           // ... read a unit at a time
  Unit unit_;                 // its unit being run
  bool lineActive_ = false;
  std::string reply_;         // the line's answers so far
  bool hasReply_ = false;
  std::vector<HeaderNode> path_;  // the path a relative header continues from

  std::uint64_t waitTarget_ = 0;  // *OPC? / *WAI: waiting for a transfer after this packet
  bool waiting_ = false;
  bool waitReplies_ = false;      // *OPC? (answers 1) rather than *WAI
  std::uint64_t waitLink_ = 0;    // the link the wait began on
  std::uint64_t waitTransfers_ = 0;  // transfers completed when last seen to move
  std::int64_t waitMovedMs_ = 0;     // ... and when
  std::int64_t waitStartMs_ = 0;     // when the wait began
  std::int64_t waitLimitMs_ = 0;
  bool answersFull_ = false;         // the line's answers passed kMaxLineAnswers
  bool opcPending_ = false;       // *OPC: sets the bit after a transfer past opcTarget_
  std::uint64_t opcTarget_ = 0;
};

}  // namespace scpi
