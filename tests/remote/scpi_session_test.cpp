// The interpreter without windows or sockets: headers, parameters, the common commands, the
// error queue, the status registers, *OPC? against the transfer counters, and the line limit.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <string_view>
#include <vector>

#include "remote/scpi_session.h"

using namespace scpi;
using namespace std::string_view_literals;

namespace {

// Records what reaches the instrument as "<command>(<captures>)[<params>]" lines.
class FakeInstrument : public Instrument {
 public:
  int execute(const Call& call, std::string& reply) override {
    std::string s = call.node.pattern;
    s += '(';
    for (int v : call.captures.values) s += std::to_string(v) + ' ';
    s += ')';
    for (const Parameter& p : call.params) {
      s += '[';
      if (p.kind == ParamKind::Number) s += std::to_string(double(p.number)) + p.suffix;
      if (p.kind == ParamKind::Mnemonic) s += "M:" + p.text;
      if (p.kind == ParamKind::String) s += "S:" + p.text;
      s += ']';
    }
    if (call.query) s += '?';
    calls.push_back(s);
    reply.assign(replyBytes, 'R');
    return nextError;
  }
  std::string identity() override { return "ID"; }
  void reset() override { ++resets; }
  int selfTest() override { return linkDown; }
  std::uint64_t packetsBuilt() override { return built; }
  std::uint64_t lastTransferredPacket() override { return transferred; }
  std::uint64_t linkId() override { return link; }
  std::uint64_t transfersCompleted() override { return transfers; }
  std::int64_t nowMs() override { return now; }

  std::vector<std::string> calls;
  std::uint64_t link = 1;
  std::uint64_t transfers = 0;
  std::int64_t now = 0;
  int nextError = 0;
  std::size_t replyBytes = 1;
  int linkDown = 0;
  int resets = 0;
  std::uint64_t built = 0;
  std::uint64_t transferred = 0;
};

struct SessionTest : ::testing::Test {
  FakeInstrument device;
  Session session{device};
  std::string send(const std::string& text) {
    session.receive(text);
    std::string out;
    while (session.run(out) == Session::State::Busy) {
    }
    return out;
  }
  std::vector<std::string> drainErrors() {
    std::vector<std::string> out;
    while (!session.errors().empty()) out.push_back(session.errors().pop());
    return out;
  }
};

TEST_F(SessionTest, HeadersReachTheCommandWithItsCapturesInShortAndLongForm) {
  struct Case {
    std::string_view line;
    const char* call;
  };
  const Case cases[] = {
      // CR, NUL and other control characters but LF are blanks.
      {"\rSOUR1:PULS:AMPL\0-3\r\n"sv, "SOURce#:PULSe|ASERies|FSERies|SINusoid:AMPLitude(1 0 )[-3.000000]"},
      {"SOUR1:ASER:COUN\r#h1f\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:COUNt(1 1 )[31.000000]"},
      {"SOUR1:ASER:COUN #Q17\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:COUNt(1 1 )[15.000000]"},
      {"SOUR1:ASER:COUN #B101\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:COUNt(1 1 )[5.000000]"},
      {"*SAV 3\n", "SCENe:CAPTure()[3.000000]"},
      {"*rcl 4\n", "SCENe:APPLy()[4.000000]"},
      {"SOUR1:PULS:AMPL -3\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:AMPLitude(1 0 )[-3.000000]"},
      {"source2:aseries:amplitude -3DB\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:AMPLitude(2 1 )[-3.000000DB]"},
      {"SoUr:FsEr:WIDT 5 us\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:WIDTh(1 2 )[5.000000US]"},
      {":SOUR2:SIN:AM ON\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:AM[:STATe](2 3 )[M:ON]"},
      {"SOUR2:SIN:AM:STAT?\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:AM[:STATe](2 3 )?"},
      {"SOUR1:PULS:AM:FREQ 2KHZ\n", "SOURce#:PULSe|ASERies|FSERies|SINusoid:AM:FREQuency(1 0 )[2.000000KHZ]"},
      {"TRIG:CLOC:PER 1E3\n", "TRIGger:CLOCk:PERiod()[1000.000000]"},
      {"scen:name 3,\"It''s \"\"A\"\"\"\n", "SCENe:NAME()[3.000000][S:It''s \"A\"]"},
      {"SCEN:NAME 4,'a''b'\n", "SCENe:NAME()[4.000000][S:a'b]"},
      {"INP:RANG 150\r\n", "INPut:RANGe()[150.000000]"},
  };
  for (const Case& c : cases) {
    device.calls.clear();
    send(std::string(c.line));
    ASSERT_EQ(device.calls.size(), 1u) << c.line;
    EXPECT_EQ(device.calls[0], c.call) << c.line;
    EXPECT_TRUE(drainErrors().empty()) << c.line;
  }
}

TEST_F(SessionTest, EveryErrorCodeComesWithItsTextAndItsEventBit) {
  struct Case {
    const char* line;
    const char* error;
    int esrBit;
  };
  const Case cases[] = {
      {"*IDN\n", "-100,\"Command error\"", EsrCommandError},
      {"SCEN:APPL? 1\n", "-100,\"Command error\"", EsrCommandError},
      {"SOUR1:MODE PULS%\n", "-102,\"Syntax error\"", EsrCommandError},
      {"SOUR1:MODE \"open\n", "-102,\"Syntax error\"", EsrCommandError},
      {"SOUR1:MODE #HFG\n", "-102,\"Syntax error\"", EsrCommandError},
      {"SOUR1:MODE #12AB\n", "-102,\"Syntax error\"", EsrCommandError},
      {"*SAV? 1\n", "-100,\"Command error\"", EsrCommandError},
      {"STAT:OPER:ENAB 1,2\n", "-108,\"Parameter not allowed\"", EsrCommandError},
      {"*ESE 1,2\n", "-108,\"Parameter not allowed\"", EsrCommandError},
      {"*SRE\n", "-109,\"Missing parameter\"", EsrCommandError},
      {"SOUR1:PULSE:NOPE 1\n", "-113,\"Undefined header\"", EsrCommandError},
      {"SYST:ERR3?\n", "-113,\"Undefined header\"", EsrCommandError},
      {"*ESE 5V\n", "-131,\"Invalid suffix\"", EsrCommandError},
      {"*ESE \"5\"\n", "-220,\"Parameter error\"", EsrExecutionError},
      {"*ESE 256\n", "-222,\"Data out of range\"", EsrExecutionError},
      {"FORM BINARY\n", "-224,\"Illegal parameter value\"", EsrExecutionError},
  };
  for (const Case& c : cases) {
    session.errors().clear();
    send("*ESR?\n");  // clears the register
    send(c.line);
    EXPECT_EQ(drainErrors(), std::vector<std::string>{c.error}) << c.line;
    EXPECT_EQ(send("*ESR?\n"), std::to_string(c.esrBit) + "\n") << c.line;
  }
  // Errors the instrument reports are queued the same way (-221 settings conflict).
  device.nextError = SettingsConflict;
  send("SOUR2:MODE SIN\n");
  EXPECT_EQ(drainErrors(), std::vector<std::string>{"-221,\"Settings conflict\""});
  EXPECT_EQ(send("SYST:ERR?\n"), "0,\"No error\"\n");
}

TEST_F(SessionTest, SeveralUnitsPerLineShareOnePathAndOneReplyLine) {
  const std::string out = send("SOUR1:PULS:AMPL -3;DEL 5;AMPL?;:SOUR2:MODE?;SOUR1:MODE SIN;*IDN?\n");
  EXPECT_EQ(out, "R;R;ID\n");
  const std::vector<std::string> expected{
      "SOURce#:PULSe|ASERies|FSERies|SINusoid:AMPLitude(1 0 )[-3.000000]",
      "SOURce#:PULSe|ASERies|FSERies|SINusoid:DELay(1 0 )[5.000000]",
      "SOURce#:PULSe|ASERies|FSERies|SINusoid:AMPLitude(1 0 )?",
      "SOURce#:MODE(2 )?",
      // Not below SOUR2: the header is read again from the root.
      "SOURce#:MODE(1 )[M:SIN]",
  };
  EXPECT_EQ(device.calls, expected);
}

TEST_F(SessionTest, ACommandErrorDropsTheRestOfItsLineAnExecutionErrorDoesNot) {
  EXPECT_EQ(send("*IDN?;BOGUS;*IDN?\n*IDN?\n"), "ID\nID\n");
  device.nextError = DataOutOfRange;
  EXPECT_EQ(send("SOUR1:MODE X;*IDN?\n"), "ID\n");
  EXPECT_EQ(drainErrors(), (std::vector<std::string>{"-113,\"Undefined header\"", "-222,\"Data out of range\""}));
}

TEST_F(SessionTest, TheQueueHoldsSixteenAndMarksTheOverflow) {
  for (int i = 0; i < 20; ++i) send("BOGUS\n");
  EXPECT_EQ(send("*ESR?;SYST:ERR:COUN?\n"), "40;16\n");  // command error and device error
  std::string all;
  for (int i = 0; i < 15; ++i) all += "-113,\"Undefined header\",";
  EXPECT_EQ(send("SYSTEM:ERROR:ALL?\n"), all + "-350,\"Queue overflow\"\n");
  EXPECT_EQ(send("SYST:ERR:ALL?;COUN?\n"), "0,\"No error\";0\n");
}

TEST_F(SessionTest, StatusByteSummarisesTheQueueAndTheEnabledEvents) {
  EXPECT_EQ(send("*STB?\n"), "0\n");
  send("BOGUS\n");
  EXPECT_EQ(send("*STB?\n"), "4\n");  // error available
  send("*ESE 32\n");                  // command errors
  EXPECT_EQ(send("*STB?\n"), "36\n");
  send("*SRE 36\n");
  EXPECT_EQ(send("*STB?;*SRE?;*ESE?\n"), "100;36;32\n");  // with the request-service summary
  send("*CLS\n");
  EXPECT_EQ(send("*STB?;*ESR?\n"), "0;0\n");
  send("*RST\n");
  EXPECT_EQ(device.resets, 1);
}

TEST_F(SessionTest, OperationAndQuestionableRegistersFollowTransfersAndTheLink) {
  device.built = device.transferred = 5;
  EXPECT_EQ(send("STAT:OPER:COND?;:STAT:QUES:COND?;:STAT:OPER?;:STAT:QUES:EVEN?\n"), "0;0;0;0\n");
  // A setting waits for a packet built after it.
  send("SOUR1:MODE SIN;:STAT:OPER:ENAB 2\n");
  EXPECT_EQ(send("*STB?;:STAT:OPER:COND?\n"), "128;2\n");
  EXPECT_EQ(send("STAT:OPER?;:STAT:OPER?;*STB?\n"), "2;0;0\n");  // cleared by reading
  device.built = device.transferred = 6;
  EXPECT_EQ(send("STAT:OPER:COND?\n"), "0\n");
  device.linkDown = 1;
  EXPECT_EQ(send("STAT:QUES:ENAB 512;*STB?;:STAT:QUES:COND?\n"), "8;512\n");
  // *CLS clears the events, not the condition; only a new rise sets the event again.
  EXPECT_EQ(send("*CLS;*STB?;:STAT:QUES:COND?;EVEN?\n"), "0;512;0\n");
  device.linkDown = 0;
  send("*IDN?\n");
  device.linkDown = 1;
  EXPECT_EQ(send("*STB?\n"), "8\n");
  EXPECT_EQ(send("STAT:PRES;*STB?;:STAT:QUES:ENAB?;:STAT:OPER:ENAB 65535;ENAB?\n"), "0;0;32767\n");
  EXPECT_TRUE(drainErrors().empty());
}

TEST_F(SessionTest, OpcQueryAnswersOnlyAfterAPacketBuiltLaterIsTransferred) {
  device.built = 10;
  device.transferred = 9;
  std::string out;
  session.receive("SOUR1:MODE SIN;*OPC?;*IDN?\n*IDN?\n");
  EXPECT_EQ(session.run(out), Session::State::Waiting);
  // Packet 10 was built before the command: its transfer does not count.
  device.transferred = 10;
  EXPECT_EQ(session.run(out), Session::State::Waiting);
  device.built = 11;  // built after the command; a failed transfer leaves the count where it is
  EXPECT_EQ(session.run(out), Session::State::Waiting);
  EXPECT_EQ(out, "");
  device.transferred = 11;
  EXPECT_EQ(session.run(out), Session::State::Idle);
  EXPECT_EQ(out, "1;ID\nID\n");
  // *WAI holds the following commands the same way without answering.
  out.clear();
  session.receive("*WAI;*IDN?\n");
  EXPECT_EQ(session.run(out), Session::State::Waiting);
  device.built = 12;
  device.transferred = 12;
  EXPECT_EQ(session.run(out), Session::State::Idle);
  EXPECT_EQ(out, "ID\n");
  // *OPC sets the operation-complete bit then, and answers nothing.
  send("*OPC\n");
  EXPECT_EQ(send("*ESR?\n"), "0\n");
  device.built = device.transferred = 13;
  EXPECT_EQ(send("*ESR?\n"), "1\n");
}

// A wait that no transfer can end gives up without a reply, so that nothing answers a later
// query in its place, and the rest of the line and the next lines run at once.
TEST_F(SessionTest, AWaitNoTransferCanEndGivesUpWithAnErrorAndNoReply) {
  struct Step {
    std::int64_t atMs;
    std::uint64_t link;
    std::uint64_t transfers;
  };
  struct Case {
    const char* name;
    const char* wait;
    std::uint64_t linkAtStart;
    std::vector<Step> steps;  // still waiting before each
    const char* error;
    std::int64_t limitMs = 0;  // the raw socket's bound on every wait
  };
  const Case cases[] = {
      {"no link", "*OPC?", 0, {}, "-241,\"Hardware missing\""},
      {"*WAI without a link", "*WAI", 0, {}, "-241,\"Hardware missing\""},
      {"link lost", "*OPC?", 5, {{100, 5, 0}, {200, 0, 0}}, "-241,\"Hardware missing\""},
      {"lost and back between two looks", "*OPC?", 5, {{100, 6, 1}}, "-241,\"Hardware missing\""},
      {"only timeouts", "*OPC?", 5, {{1999, 5, 0}, {2000, 5, 0}}, "-240,\"Hardware error\""},
      {"transfers of older packets put it off", "*WAI", 5, {{1500, 5, 1}, {3499, 5, 1}, {3500, 5, 1}},
       "-240,\"Hardware error\""},
      // Transfers go through, only not this packet's: the bound ends it all the same.
      {"the socket's bound", "*OPC?", 5, {{1000, 5, 1}, {1449, 5, 2}, {1450, 5, 3}}, "-240,\"Hardware error\"",
       1450},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    session.setWaitLimit(c.limitMs);
    device = FakeInstrument{};
    device.built = device.transferred = 7;
    device.link = c.linkAtStart;
    std::string out;
    session.receive(std::string(c.wait) + ";*IDN?\n*IDN?\n");
    Session::State state = session.run(out);
    for (std::size_t i = 0; i < c.steps.size(); ++i) {
      EXPECT_EQ(state, Session::State::Waiting) << "before " << c.steps[i].atMs << " ms";
      device.now = c.steps[i].atMs;
      device.link = c.steps[i].link;
      device.transfers = c.steps[i].transfers;
      state = session.run(out);
    }
    while (state == Session::State::Busy) state = session.run(out);
    EXPECT_EQ(out, "ID\nID\n");
    EXPECT_EQ(drainErrors(), std::vector<std::string>{c.error});
    // A packet that gets through afterwards brings no late "1".
    device.built = device.transferred = 9;
    EXPECT_EQ(send("*IDN?\n"), "ID\n");
  }
}

TEST_F(SessionTest, ALineOverTheLimitIsDroppedAndTheNextOneRuns) {
  struct Case {
    std::size_t length;
    bool accepted;
  };
  for (const Case c : {Case{Session::kMaxLine, true}, Case{Session::kMaxLine + 1, false},
                       Case{3 * Session::kMaxLine, false}}) {
    // "*IDN?" padded with blanks to length bytes before the LF, then one more line.
    std::string line = "*IDN?" + std::string(c.length - 5, ' ') + "\r\n*IDN?\n";
    std::string out;
    std::size_t sent = 0;
    // Fed as a socket would, no more than the session has room for.
    while (sent < line.size()) {
      const std::size_t n = std::min(session.space(), line.size() - sent);
      ASSERT_GT(n, 0u);
      session.receive(std::string_view(line).substr(sent, n));
      sent += n;
      while (session.run(out) == Session::State::Busy) {
      }
    }
    EXPECT_EQ(out, c.accepted ? "ID\nID\n" : "ID\n") << c.length;
    EXPECT_EQ(drainErrors(), c.accepted ? std::vector<std::string>{} : std::vector<std::string>{"-223,\"Too much data\""})
        << c.length;
  }
}

TEST_F(SessionTest, ASliceEndsWhenItsTimeIsUpAndTheNextGoesOn) {
  session.receive("*IDN?;*TST?;*IDN?\n");
  std::string out;
  const auto always = [] { return true; };
  int slices = 0;
  while (session.run(out, always) == Session::State::Busy) ++slices;
  EXPECT_EQ(slices, 3);  // one unit per slice
  EXPECT_EQ(out, "ID;0;ID\n");
}

TEST_F(SessionTest, FormatChoosesTheTraceEncodingPerConnection) {
  EXPECT_EQ(send("FORM?\n"), "REAL,32\n");
  EXPECT_EQ(send("FORM ASC;FORM?;:FORM:DATA REAL,32;FORM?\n"), "ASC;REAL,32\n");
  send("FORM REAL,64\n");
  EXPECT_EQ(drainErrors(), std::vector<std::string>{"-224,\"Illegal parameter value\""});
}

}  // namespace

namespace {

// One line's answers stop at 1 MiB: its further queries do not run (its settings do), and
// -430 is there at the very next SYSTem:ERRor?, not one query later.
TEST_F(SessionTest, OneLinesAnswersStopAtTheirBound) {
  struct Case {
    std::size_t replyBytes;
    int answered;  // of the 20 queries before the setting and the 20 after it
    const char* error;
  };
  const Case cases[] = {
      {1024, 40, "0,\"No error\""},
      {100 * 1024, 11, "-430,\"Query DEADLOCKED\""},  // the 11th passes 1 MiB
      {2 * 1024 * 1024, 1, "-430,\"Query DEADLOCKED\""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.replyBytes);
    device = FakeInstrument{};
    device.replyBytes = c.replyBytes;
    std::string line;
    for (int i = 0; i < 20; ++i) line += "SOUR1:PULS:AMPL?;";
    line += "SOUR1:PULS:AMPL -3";
    for (int i = 0; i < 20; ++i) line += ";SOUR1:PULS:AMPL?";
    const std::string out = send(line + "\n");
    const auto queries = std::count_if(device.calls.begin(), device.calls.end(),
                                       [](const std::string& call) { return call.back() == '?'; });
    EXPECT_EQ(queries, c.answered);
    EXPECT_EQ(std::count(out.begin(), out.end(), ';'), c.answered - 1);
    EXPECT_EQ(device.calls.size(), std::size_t(c.answered) + 1) << "the setting runs";
    device.replyBytes = 1;
    EXPECT_EQ(send("SYST:ERR?\n"), std::string(c.error) + "\n");
    EXPECT_EQ(send("*IDN?;*IDN?\n"), "ID;ID\n");
  }
}

}  // namespace
