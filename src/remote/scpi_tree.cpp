#include "remote/scpi_tree.h"

namespace scpi {

namespace {

std::vector<std::string_view> split(std::string_view s, char sep) {
  std::vector<std::string_view> parts;
  std::size_t start = 0;
  for (;;) {
    const std::size_t p = s.find(sep, start);
    parts.push_back(s.substr(start, p == std::string_view::npos ? std::string_view::npos : p - start));
    if (p == std::string_view::npos) return parts;
    start = p + 1;
  }
}

bool matchFrom(const Pattern& pattern, std::size_t pi, const std::vector<HeaderNode>& header, std::size_t hi,
               Captures& captures) {
  if (pi == pattern.size()) return hi == header.size();
  const PatternNode& node = pattern[pi];
  if (hi < header.size()) {
    const HeaderNode& h = header[hi];
    for (std::size_t k = 0; k < node.keywords.size(); ++k) {
      const PatternNode::Keyword& kw = node.keywords[k];
      if (h.mnemonic != kw.shortForm && h.mnemonic != kw.longForm) continue;
      if (h.suffix >= 0 && !node.suffix) continue;
      const std::size_t mark = captures.values.size();
      if (node.suffix) captures.values.push_back(h.suffix < 0 ? 1 : h.suffix);
      if (node.keywords.size() > 1) captures.values.push_back(int(k));
      if (matchFrom(pattern, pi + 1, header, hi + 1, captures)) return true;
      captures.values.resize(mark);
    }
  }
  if (node.optional) {
    // Left out: a suffixed optional node counts as 1, a choice as its first keyword.
    const std::size_t mark = captures.values.size();
    if (node.suffix) captures.values.push_back(1);
    if (node.keywords.size() > 1) captures.values.push_back(0);
    if (matchFrom(pattern, pi + 1, header, hi, captures)) return true;
    captures.values.resize(mark);
  }
  return false;
}

}  // namespace

Pattern compilePattern(std::string_view text) {
  Pattern pattern;
  // "[:NEXT]" marks the node after the colon optional.
  bool nextOptional = false;
  std::string current;
  auto endNode = [&] {
    PatternNode node;
    node.optional = nextOptional;
    std::string_view n = current;
    if (!n.empty() && n.back() == '#') {
      node.suffix = true;
      n.remove_suffix(1);
    }
    for (std::string_view word : split(n, '|')) {
      PatternNode::Keyword kw;
      for (char c : word) {
        if (c >= 'A' && c <= 'Z') kw.shortForm += c;
        kw.longForm += (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c;
      }
      node.keywords.push_back(std::move(kw));
    }
    pattern.push_back(std::move(node));
    current.clear();
    nextOptional = false;
  };
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '[') {
      if (!current.empty()) endNode();
      nextOptional = true;
    } else if (c == ']') {
      if (!current.empty()) endNode();
    } else if (c == ':') {
      if (!current.empty()) endNode();
    } else {
      current += c;
    }
  }
  if (!current.empty()) endNode();
  return pattern;
}

bool matchHeader(const Pattern& pattern, const std::vector<HeaderNode>& header, Captures& captures) {
  captures.values.clear();
  return matchFrom(pattern, 0, header, 0, captures);
}

const std::vector<CommandNode>& commandTable() {
  static const std::vector<CommandNode> table{
      {Command::SystemError, "SYSTem:ERRor[:NEXT]", false, true},
      {Command::SystemErrorCount, "SYSTem:ERRor:COUNt", false, true},
      {Command::SystemErrorAll, "SYSTem:ERRor:ALL", false, true},
      {Command::SystemVersion, "SYSTem:VERSion", false, true},
      {Command::SystemLink, "SYSTem:LINK", false, true},
      {Command::SystemPacket, "SYSTem:PACKet", false, true},
      {Command::SourceMode, "SOURce#:MODE", true, true},
      {Command::SourceAmplitude, "SOURce#:PULSe|ASERies|FSERies|SINusoid:AMPLitude", true, true},
      {Command::SourceSign, "SOURce#:PULSe|ASERies|FSERies|SINusoid:SIGN", true, true},
      {Command::SourceDelay, "SOURce#:PULSe|ASERies|FSERies|SINusoid:DELay", true, true},
      {Command::SourceWidth, "SOURce#:PULSe|ASERies|FSERies|SINusoid:WIDTh", true, true},
      {Command::SourcePause, "SOURce#:PULSe|ASERies|FSERies|SINusoid:PAUSe", true, true},
      {Command::SourceCount, "SOURce#:PULSe|ASERies|FSERies|SINusoid:COUNt", true, true},
      {Command::SourceFrequency, "SOURce#:PULSe|ASERies|FSERies|SINusoid:FREQuency", true, true},
      {Command::SourceStep, "SOURce#:PULSe|ASERies|FSERies|SINusoid:STEP", true, true},
      {Command::SourceAttenuation, "SOURce#:PULSe|ASERies|FSERies|SINusoid:ATTenuation", true, true},
      {Command::SourceRfModulation, "SOURce#:PULSe|ASERies|FSERies|SINusoid:RFModulation", true, true},
      {Command::SourceAm, "SOURce#:PULSe|ASERies|FSERies|SINusoid:AM[:STATe]", true, true},
      {Command::SourceAmFrequency, "SOURce#:PULSe|ASERies|FSERies|SINusoid:AM:FREQuency", true, true},
      {Command::SourceDivider, "SOURce#:PULSe|ASERies|FSERies|SINusoid:DIVider", true, true},
      {Command::SourceCalibration, "SOURce#:PULSe|ASERies|FSERies|SINusoid:CALibration", true, true},
      {Command::SourceOffDivider, "SOURce#:OFF:DIVider", true, true},
      {Command::TriggerSource, "TRIGger:SOURce", true, true},
      {Command::TriggerSlope, "TRIGger:SLOPe", true, true},
      {Command::TriggerLevel, "TRIGger:LEVel", true, true},
      {Command::TriggerClockPeriod, "TRIGger:CLOCk:PERiod", true, true},
      {Command::InputRange, "INPut:RANGe", true, true},
      {Command::InputLoad, "INPut:LOAD", true, true},
      {Command::SceneApply, "SCENe:APPLy", true, false},
      {Command::SceneCapture, "SCENe:CAPTure", true, false},
      {Command::SceneName, "SCENe:NAME", true, true},
      {Command::SceneSelect, "SCENe:SELect", false, true},
      {Command::StatusDevice, "STATus:DEVice", false, true},
      {Command::StatusEvent, "STATus:OPERation|QUEStionable[:EVENt]", false, true},
      {Command::StatusCondition, "STATus:OPERation|QUEStionable:CONDition", false, true},
      {Command::StatusEnable, "STATus:OPERation|QUEStionable:ENABle", true, true},
      {Command::StatusPreset, "STATus:PRESet", true, false},
      {Command::DisplayComment, "DISPlay:COMMent", true, true},
      {Command::SceneComment, "SCENe:COMMent", true, true},
      {Command::MeasurePulse, "MEASure:PULSe", false, true},
      {Command::TraceData, "TRACe:DATA", false, true},
      {Command::Format, "FORMat[:DATA]", true, true},
  };
  return table;
}

const std::vector<CompiledCommand>& compiledCommands() {
  static const std::vector<CompiledCommand> compiled = [] {
    std::vector<CompiledCommand> v;
    for (const CommandNode& s : commandTable()) v.push_back({&s, compilePattern(s.pattern)});
    return v;
  }();
  return compiled;
}

const CompiledCommand* findCommand(const std::vector<HeaderNode>& header, Captures& captures) {
  for (const CompiledCommand& c : compiledCommands())
    if (matchHeader(c.pattern, header, captures)) return &c;
  captures.values.clear();
  return nullptr;
}

}  // namespace scpi
