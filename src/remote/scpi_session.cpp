#include "remote/scpi_session.h"

#include <chrono>
#include <cmath>

namespace scpi {

namespace {

// The one integer parameter of *ESE, *SRE and the status enable registers: 0..max (rounded,
// as SCPI rounds numbers).
int registerValue(const std::vector<Parameter>& params, unsigned max, unsigned& out) {
  if (params.empty()) return MissingParameter;
  if (params.size() > 1) return ParameterNotAllowed;
  const Parameter& p = params[0];
  if (p.kind != ParamKind::Number) return ParameterError;
  if (!p.suffix.empty()) return InvalidSuffix;
  const long double v = std::nearbyint(p.number);
  if (!(v >= 0 && v <= max)) return DataOutOfRange;
  out = unsigned(v);
  return 0;
}

int registerValue(const Unit& unit, std::uint8_t& out) {
  unsigned v = 0;
  const int e = registerValue(unit.params, 255, v);
  if (!e) out = std::uint8_t(v);
  return e;
}

bool isCommandClass(int code) { return code <= -100 && code > -200; }

}  // namespace

std::int64_t Instrument::nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

std::size_t Session::space() const {
  const std::size_t pending = input_.size() - consumed_;
  const std::size_t limit = kMaxLine + 2;  // a longest line, its CR and its LF
  return pending >= limit ? 0 : limit - pending;
}

void Session::receive(std::string_view bytes) {
  if (consumed_ > 0 && consumed_ * 2 >= input_.size()) {
    input_.erase(0, consumed_);
    consumed_ = 0;
  }
  input_.append(bytes);
}

void Session::pushError(int code) {
  if (errors_.push(code)) esr_ |= esrBitFor(QueueOverflow);
  esr_ |= esrBitFor(code);
}

std::uint8_t Session::statusByte() const {
  std::uint8_t stb = 0;
  if (!errors_.empty()) stb |= StbErrorAvailable;
  if (esr_ & ese_) stb |= StbEventSummary;
  if (questionable_.summary()) stb |= StbQuestionableSummary;
  if (operation_.summary()) stb |= StbOperationSummary;
  if (stb & sre_ & ~StbRequestService) stb |= StbRequestService;
  return stb;
}

void Session::clearIo() {
  input_.clear();
  consumed_ = 0;
  discarding_ = false;
  dropLine();
  opcPending_ = false;
}

void Session::dropLine() {
  line_ = UnitReader{};
  lineActive_ = false;
  reply_.clear();
  hasReply_ = false;
  waiting_ = false;
}

bool Session::takeLine() {
  for (;;) {
    const std::size_t pending = input_.size() - consumed_;
    if (pending == 0) {
      input_.clear();
      consumed_ = 0;
      return false;
    }
    const std::size_t lf = input_.find('\n', consumed_);
    if (discarding_) {
      if (lf == std::string::npos) {
        consumed_ = input_.size();
        continue;
      }
      consumed_ = lf + 1;
      discarding_ = false;
      continue;
    }
    if (lf == std::string::npos) {
      if (pending <= kMaxLine + 1) return false;  // the rest of the line is still coming
      pushError(TooMuchData);
      discarding_ = true;
      continue;
    }
    std::string_view line(input_.data() + consumed_, lf - consumed_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() > kMaxLine) {
      pushError(TooMuchData);
      consumed_ = lf + 1;
      continue;
    }
    lineText_.assign(line);
    line_ = UnitReader(lineText_);
    consumed_ = lf + 1;
    lineActive_ = true;
    reply_.clear();
    hasReply_ = false;
    answersFull_ = false;
    path_.clear();  // every line starts at the root
    return true;
  }
}

void Session::addReply(std::string_view text) {
  if (hasReply_) reply_ += ';';
  reply_ += text;
  hasReply_ = true;
  if (!answersFull_ && reply_.size() > kMaxLineAnswers) {
    // A line of thousands of trace queries would build gigabytes before it ends. What it has
    // goes out; the error is there at once for the next SYSTem:ERRor?.
    answersFull_ = true;
    pushError(QueryDeadlocked);
  }
}

void Session::checkOpc() {
  if (opcPending_ && instrument_.lastTransferredPacket() > opcTarget_) {
    esr_ |= EsrOperationComplete;
    opcPending_ = false;
  }
}

Session::State Session::run(std::string& out, const std::function<bool()>& enough) {
  checkOpc();
  for (int budget = kUnitsPerRun; budget > 0; --budget) {
    if (waiting_) {
      if (instrument_.lastTransferredPacket() > waitTarget_) {
        waiting_ = false;
        if (waitReplies_) addReply("1");
      } else if (const int error = waitFailure()) {
        waiting_ = false;
        pushError(error);
      } else {
        return State::Waiting;
      }
    }
    if (!lineActive_ && !takeLine()) return State::Idle;
    if (line_.next(unit_)) {
      runUnit(unit_);
      if (enough && enough()) return State::Busy;
      continue;
    }
    // The line is done: its syntax fault (if any) comes after the units before it ran.
    if (line_.error()) pushError(line_.error());
    if (hasReply_) {
      out += reply_;
      out += '\n';
    }
    lineActive_ = false;
    line_ = UnitReader{};
  }
  return State::Busy;
}

bool Session::runUnit(const Unit& unit) {
  if (answersFull_ && unit.query) return true;
  refreshConditions();
  if (unit.common)
    runCommon(unit);
  else
    runTree(unit);
  return !waiting_;
}

void Session::runCommon(const Unit& unit) {
  const std::string& h = unit.nodes[0].mnemonic;
  int error = 0;
  auto noParams = [&] {
    if (!unit.params.empty()) error = ParameterNotAllowed;
    return error == 0;
  };
  auto queryOnly = [&] {
    if (!unit.query) error = CommandError;
    return error == 0 && noParams();
  };
  auto commandOnly = [&] {
    if (unit.query) error = CommandError;
    return error == 0;
  };
  if (unit.nodes[0].suffix >= 0) {
    error = UndefinedHeader;
  } else if (h == "IDN") {
    if (queryOnly()) addReply(instrument_.identity());
  } else if (h == "RST") {
    if (commandOnly() && noParams() && !(error = instrument_.settingRefused())) {
      instrument_.reset();
      noteSetting();
      asciiTrace_ = false;
      opcPending_ = false;
    }
  } else if (h == "SAV" || h == "RCL") {
    // The scenes are the device's setting memories: *SAV n and *RCL n are
    // SCENe:CAPTure n and SCENe:APPLy n.
    if (commandOnly()) error = runSetting(h == "SAV" ? Command::SceneCapture : Command::SceneApply, unit.params);
  } else if (h == "TST") {
    if (queryOnly()) addReply(std::to_string(instrument_.selfTest()));
  } else if (h == "CLS") {
    if (commandOnly() && noParams()) {
      errors_.clear();
      esr_ = 0;
      operation_.event = questionable_.event = 0;
      opcPending_ = false;
    }
  } else if (h == "ESE") {
    if (unit.query) {
      if (noParams()) addReply(std::to_string(ese_));
    } else {
      error = registerValue(unit, ese_);
    }
  } else if (h == "SRE") {
    if (unit.query) {
      if (noParams()) addReply(std::to_string(sre_));
    } else {
      std::uint8_t v = 0;
      error = registerValue(unit, v);
      if (!error) sre_ = std::uint8_t(v & ~StbRequestService);  // bit 6 cannot be enabled
    }
  } else if (h == "ESR") {
    if (queryOnly()) {
      addReply(std::to_string(esr_));
      esr_ = 0;
    }
  } else if (h == "STB") {
    if (queryOnly()) addReply(std::to_string(statusByte()));
  } else if (h == "OPC" || h == "WAI") {
    if (h == "WAI" && unit.query) {
      error = CommandError;
    } else if (noParams()) {
      // Packets built so far may predate the commands before this one; only a packet built
      // from now on is sure to carry them.
      const std::uint64_t target = instrument_.packetsBuilt();
      if (h == "OPC" && !unit.query) {
        opcPending_ = true;
        opcTarget_ = target;
      } else if ((waitLink_ = instrument_.linkId()) == 0) {
        error = HardwareMissing;  // nothing would ever end the wait
      } else {
        waiting_ = true;
        waitTarget_ = target;
        waitReplies_ = h == "OPC";
        waitTransfers_ = instrument_.transfersCompleted();
        waitMovedMs_ = waitStartMs_ = instrument_.nowMs();
      }
    }
  } else {
    error = UndefinedHeader;
  }
  if (error) {
    pushError(error);
    if (isCommandClass(error)) line_ = UnitReader{};
  }
}

int Session::waitFailure() {
  if (instrument_.linkId() != waitLink_) return HardwareMissing;
  const std::uint64_t transfers = instrument_.transfersCompleted();
  const std::int64_t now = instrument_.nowMs();
  if (waitLimitMs_ > 0 && now - waitStartMs_ >= waitLimitMs_) return HardwareError;
  if (transfers != waitTransfers_) {
    waitTransfers_ = transfers;
    waitMovedMs_ = now;
    return 0;
  }
  return now - waitMovedMs_ >= kStallMs ? HardwareError : 0;
}

void Session::runTree(const Unit& unit) {
  Captures captures;
  const CompiledCommand* c = nullptr;
  std::vector<HeaderNode> full;
  if (!unit.absolute && !path_.empty()) {
    full = path_;
    full.insert(full.end(), unit.nodes.begin(), unit.nodes.end());
    c = findCommand(full, captures);
  }
  // A header that does not continue the last path is read from the root: scripts write
  // "SOUR1:MODE PULS;SOUR2:MODE SIN" and mean two channels.
  if (!c) {
    full = unit.nodes;
    c = findCommand(full, captures);
  }
  int error = 0;
  if (!c) {
    error = UndefinedHeader;
  } else {
    path_.assign(full.begin(), full.end() - 1);
    const CommandNode& node = *c->node;
    if (unit.query ? !node.queryable : !node.settable) {
      error = CommandError;
    } else if (node.command == Command::SystemError) {
      if (!unit.params.empty())
        error = ParameterNotAllowed;
      else
        addReply(errors_.pop());
    } else if (node.command == Command::SystemErrorCount || node.command == Command::SystemErrorAll) {
      if (!unit.params.empty())
        error = ParameterNotAllowed;
      else
        addReply(node.command == Command::SystemErrorAll ? errors_.popAll() : std::to_string(errors_.size()));
    } else if (node.command == Command::StatusEvent || node.command == Command::StatusCondition ||
               node.command == Command::StatusEnable || node.command == Command::StatusPreset) {
      error = runStatus(node.command, captures, unit);
    } else if (node.command == Command::SystemVersion) {
      if (!unit.params.empty())
        error = ParameterNotAllowed;
      else
        addReply("1999.0");
    } else if (node.command == Command::Format) {
      if (unit.query) {
        if (!unit.params.empty())
          error = ParameterNotAllowed;
        else
          addReply(asciiTrace_ ? "ASC" : "REAL,32");
      } else if (unit.params.empty()) {
        error = MissingParameter;
      } else if (unit.params.size() > 2) {
        error = ParameterNotAllowed;
      } else if (unit.params[0].kind != ParamKind::Mnemonic) {
        error = ParameterError;
      } else {
        const std::string& f = unit.params[0].text;
        const bool ascii = f == "ASC" || f == "ASCII";
        const bool real = f == "REAL";
        // REAL takes an optional length, which can only be 32.
        if (!ascii && !real)
          error = IllegalParameterValue;
        else if (unit.params.size() == 2 && (ascii || unit.params[1].kind != ParamKind::Number ||
                                              unit.params[1].number != 32))
          error = ascii ? ParameterNotAllowed : IllegalParameterValue;
        else
          asciiTrace_ = ascii;
      }
    } else {
      std::string reply;
      if (!unit.query) error = instrument_.settingRefused();
      if (!error) error = instrument_.execute({node, captures, unit.params, unit.query, asciiTrace_}, reply);
      if (!error && unit.query) addReply(reply);
      if (!error && !unit.query) noteSetting();
    }
  }
  if (error) {
    pushError(error);
    if (isCommandClass(error)) line_ = UnitReader{};
  }
}

int Session::runSetting(Command command, const std::vector<Parameter>& params) {
  for (const CommandNode& node : commandTable()) {
    if (node.command != command) continue;
    if (int e = instrument_.settingRefused()) return e;
    const Captures none;
    std::string reply;
    const int e = instrument_.execute({node, none, params, false, asciiTrace_}, reply);
    if (!e) noteSetting();
    return e;
  }
  return UndefinedHeader;
}

void Session::noteSetting() {
  settingTarget_ = instrument_.packetsBuilt();
  settingWaits_ = true;
}

void Session::refreshConditions() {
  if (settingWaits_ && instrument_.lastTransferredPacket() > settingTarget_) settingWaits_ = false;
  operation_.update(settingWaits_ ? OperationSettling : 0);
  questionable_.update(instrument_.selfTest() != 0 ? QuestionableNoLink : 0);
}

int Session::runStatus(Command command, const Captures& captures, const Unit& unit) {
  if (command == Command::StatusPreset) {
    if (!unit.params.empty()) return ParameterNotAllowed;
    operation_.enable = questionable_.enable = 0;
    return 0;
  }
  StatusRegister& r = captures.values.at(0) == 0 ? operation_ : questionable_;
  if (command == Command::StatusEnable && !unit.query) {
    unsigned v = 0;
    if (int e = registerValue(unit.params, 0xFFFF, v)) return e;
    r.enable = std::uint16_t(v & 0x7FFF);
    return 0;
  }
  if (!unit.params.empty()) return ParameterNotAllowed;
  if (command == Command::StatusEnable) {
    addReply(std::to_string(r.enable));
  } else if (command == Command::StatusCondition) {
    addReply(std::to_string(r.condition));
  } else {
    addReply(std::to_string(r.event));
    r.event = 0;  // an event register is cleared by reading it
  }
  return 0;
}

}  // namespace scpi
