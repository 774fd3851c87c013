#include "remote/scpi_errors.h"

namespace scpi {

const char* errorText(int code) {
  switch (code) {
    case NoError: return "No error";
    case CommandError: return "Command error";
    case SyntaxError: return "Syntax error";
    case ParameterNotAllowed: return "Parameter not allowed";
    case MissingParameter: return "Missing parameter";
    case UndefinedHeader: return "Undefined header";
    case InvalidSuffix: return "Invalid suffix";
    case CommandProtected: return "Command protected";
    case ParameterError: return "Parameter error";
    case SettingsConflict: return "Settings conflict";
    case DataOutOfRange: return "Data out of range";
    case TooMuchData: return "Too much data";
    case IllegalParameterValue: return "Illegal parameter value";
    case HardwareError: return "Hardware error";
    case HardwareMissing: return "Hardware missing";
    case QueueOverflow: return "Queue overflow";
    case QueryInterrupted: return "Query INTERRUPTED";
    case QueryDeadlocked: return "Query DEADLOCKED";
    default: return "Unknown error";
  }
}

std::uint8_t esrBitFor(int code) {
  if (code <= -100 && code > -200) return EsrCommandError;
  if (code <= -200 && code > -300) return EsrExecutionError;
  if (code <= -300 && code > -400) return EsrDeviceError;
  if (code <= -400 && code > -500) return EsrQueryError;
  return 0;
}

bool ErrorQueue::push(int code) {
  if (code == NoError) return false;
  if (codes_.size() < kCapacity) {
    codes_.push_back(code);
    return false;
  }
  codes_.back() = QueueOverflow;
  return true;
}

std::string ErrorQueue::pop() {
  int code = NoError;
  if (!codes_.empty()) {
    code = codes_.front();
    codes_.pop_front();
  }
  return std::to_string(code) + ",\"" + errorText(code) + '"';
}

std::string ErrorQueue::popAll() {
  std::string out = pop();
  while (!codes_.empty()) out += ',' + pop();
  return out;
}

}  // namespace scpi
