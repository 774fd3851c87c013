#pragma once
// The command tree: header patterns written the way SCPI manuals write them, and the
// matching of a sent header against them (short and long forms, optional nodes, numeric
// suffixes). Pure text work, no Qt.
//
// Pattern syntax: nodes separated by ':'; a node is one keyword or several separated by '|'
// (the match records which one); '#' after a node takes a numeric suffix (1 when none is
// written); a node in brackets is optional: "SYSTem:ERRor[:NEXT]", "SOURce#:PULSe|SINusoid:AM[:STATe]".
// Each keyword's upper-case letters are its short form, the whole word its long form.

#include <string>
#include <string_view>
#include <vector>

#include "remote/scpi_parser.h"

namespace scpi {

struct PatternNode {
  struct Keyword {
    std::string shortForm;  // "SOUR"
    std::string longForm;   // "SOURCE"
  };
  std::vector<Keyword> keywords;
  bool optional = false;
  bool suffix = false;
};

using Pattern = std::vector<PatternNode>;

Pattern compilePattern(std::string_view text);

// What a match found: for each node with a suffix or with several keywords, in node
// order, the suffix (1 when not written) or the index of the keyword matched.
struct Captures {
  std::vector<int> values;
};

bool matchHeader(const Pattern& pattern, const std::vector<HeaderNode>& header, Captures& captures);

// The command tree of the synthesizer: every pattern with what it allows.
enum class Command {
  None,
  SystemError,
  SystemErrorCount,
  SystemErrorAll,
  SystemVersion,
  SystemLink,
  SystemPacket,
  SourceMode,
  SourceAmplitude,
  SourceSign,
  SourceDelay,
  SourceWidth,
  SourcePause,
  SourceCount,
  SourceFrequency,
  SourceStep,
  SourceAttenuation,
  SourceRfModulation,
  SourceAm,
  SourceAmFrequency,
  SourceDivider,
  SourceCalibration,
  SourceOffDivider,
  TriggerSource,
  TriggerSlope,
  TriggerLevel,
  TriggerClockPeriod,
  InputRange,
  InputLoad,
  SceneApply,
  SceneCapture,
  SceneName,
  SceneSelect,
  StatusDevice,
  StatusEvent,
  StatusCondition,
  StatusEnable,
  StatusPreset,
  DisplayComment,
  SceneComment,
  MeasurePulse,
  TraceData,
  Format,
};

struct CommandNode {
  Command command;
  const char* pattern;
  bool settable;
  bool queryable;
};

// The table, in the order headers are tried.
const std::vector<CommandNode>& commandTable();

// The table's patterns compiled once.
struct CompiledCommand {
  const CommandNode* node;
  Pattern pattern;
};
const std::vector<CompiledCommand>& compiledCommands();

// Finds the command of a header; nullptr when none matches.
const CompiledCommand* findCommand(const std::vector<HeaderNode>& header, Captures& captures);

}  // namespace scpi
