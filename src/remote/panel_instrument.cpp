#include "remote/panel_instrument.h"

#include <QCheckBox>
#include <QFileInfo>
#include <QLineEdit>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "panel/main_form.h"
#include "remote/scpi_values.h"
#include "rxview/rx_chart.h"
#include "rxview/rx_draw_form.h"
#include "rxview/rx_signal.h"
#include "scenes/scene_fields.h"
#include "scenes/schema_form.h"
#include "usb/link_form.h"
#include "widgets/int_spin_edit.h"
#include "widgets/page_control.h"
#include "widgets/radio_group.h"
#include "widgets/real_spin_edit.h"

using namespace scpi;

namespace {

constexpr const char* kModes = "PULSe|ASERies|FSERies|SINusoid|OFF";
constexpr const char* kSigns = "POSitive|NEGative";
constexpr const char* kSyncModes = "AUTO|EXTernal|CLOCk";
constexpr const char* kSlopes = "NEGative|POSitive";
// SCPI's "not a number", for what the panel does not show yet.
constexpr const char* kNotANumber = "9.91E37";

// The design value of a control, from the table of scene fields (every panel setting but the
// divider box of the off page is one).
long double designValue(const QWidget* w) {
  const int i = sceneFieldIndex(w->objectName());
  return i >= 0 ? sceneFields()[std::size_t(i)].defaultValue : 0;
}

NumericLimits limitsOf(const TRealSpinEdit* f, Quantity unit) {
  return {f->minValue(), f->maxValue(), designValue(f), unit};
}

// A numeric field: the query reads it (or its MIN, MAX, DEF), the command sets it as an
// operator's entry would end: within the limits, then onto the field's grid when leaving it.
int realField(TRealSpinEdit* f, Quantity unit, const PanelInstrument::Call& call, std::string& reply) {
  const NumericLimits limits = limitsOf(f, unit);
  if (call.query) {
    int which = 0;
    if (int e = readLimitQuery(call.params, which)) return e;
    const long double v = which == 1 ? limits.min : which == 2 ? limits.max : which == 3 ? limits.def : f->value();
    reply = formatNumber(v, f->decimals());
    return 0;
  }
  if (int e = expectParams(call.params, 1)) return e;
  long double v = 0;
  if (int e = readNumber(call.params[0], limits, v)) return e;
  f->setValue(v);
  if (f->roundValues())
    f->setValue(roundToGrid(f->value(), f->minValue(), f->maxValue(), f->increment(), f->hasLimits()));
  return 0;
}

int intField(TSpinEdit* f, Quantity unit, const PanelInstrument::Call& call, std::string& reply) {
  const NumericLimits limits{static_cast<long double>(f->minValue()), static_cast<long double>(f->maxValue()),
                         designValue(f), unit, true};
  if (call.query) {
    int which = 0;
    if (int e = readLimitQuery(call.params, which)) return e;
    const long double v = which == 1 ? limits.min : which == 2 ? limits.max : which == 3 ? limits.def : f->value();
    reply = formatNumber(v, 0);
    return 0;
  }
  if (int e = expectParams(call.params, 1)) return e;
  long double v = 0;
  if (int e = readNumber(call.params[0], limits, v)) return e;
  f->setValue(int(std::lround(double(v))));
  return 0;
}

int checkField(QCheckBox* box, const PanelInstrument::Call& call, std::string& reply) {
  if (call.query) {
    if (!call.params.empty()) return ParameterNotAllowed;
    reply.assign(1, box->isChecked() ? '1' : '0');
    return 0;
  }
  if (int e = expectParams(call.params, 1)) return e;
  bool on = false;
  if (int e = readBool(call.params[0], on)) return e;
  box->setChecked(on);  // runs the box's reaction when the state really changes
  return 0;
}

int radioField(TRadioGroup* group, const char* keywords, const PanelInstrument::Call& call, std::string& reply) {
  if (call.query) {
    if (!call.params.empty()) return ParameterNotAllowed;
    reply = group->itemIndex() < 0 ? "NONE" : shortKeyword(keywords, group->itemIndex());
    return 0;
  }
  if (int e = expectParams(call.params, 1)) return e;
  int index = 0;
  if (int e = readChoice(call.params[0], keywords, index)) return e;
  group->setItemIndex(index);
  return 0;
}

// One line of text in a line edit, as an operator could type it: no control characters, no
// more than the field takes. Setting it runs the field's change handler.
int textField(QLineEdit* edit, const Parameter& text) {
  if (text.kind != ParamKind::String) return ParameterError;
  const QString value = QString::fromUtf8(text.text.data(), qsizetype(text.text.size()));
  for (QChar ch : value)
    if (ch.unicode() < 0x20 || ch.unicode() == 0x7F) return IllegalParameterValue;
  if (value.size() > edit->maxLength()) return TooMuchData;
  edit->setText(value);
  return 0;
}

int textField(QLineEdit* edit, const PanelInstrument::Call& call, std::string& reply) {
  if (call.query) {
    if (!call.params.empty()) return ParameterNotAllowed;
    reply = scpi::quoted(edit->text().toStdString());
    return 0;
  }
  if (int e = expectParams(call.params, 1)) return e;
  return textField(edit, call.params[0]);
}

}  // namespace

std::uint64_t PanelInstrument::packetsBuilt() {
  return packetsBuiltCounter ? packetsBuiltCounter() : TUSB_Thread::packetsBuilt();
}

std::uint64_t PanelInstrument::lastTransferredPacket() {
  return transferredCounter ? transferredCounter() : TUSB_Thread::lastTransferredPacket();
}

std::uint64_t PanelInstrument::linkId() { return w_.link ? w_.link->linkId() : 0; }

std::uint64_t PanelInstrument::transfersCompleted() {
  return transferredCounter ? transferredCounter() : TUSB_Thread::commandTransfersCompleted();
}

QString PanelInstrument::deviceName() const {
  if (!w_.link || !w_.link->linkUp()) return {};
  const QString path = w_.link->currentDevicePath();
  if (isVirtualDevicePath(path)) return QFileInfo(path).completeBaseName();
  return path;
}

std::string PanelInstrument::identity() {
  QString device = deviceName();
  if (device.isEmpty()) device = QStringLiteral("0");
  // The fields are comma-separated: a comma in a device name must not split one.
  device.replace(u',', u'_');
  return "QZ418,QZ418 control program," + device.toStdString() + "," + QZ418_VERSION;
}

// The link as SYSTem:LINK? tells it; the session's "no link" status bit reads it here too.
int PanelInstrument::selfTest() { return deviceName().isEmpty() ? 1 : 0; }

void PanelInstrument::reset() {
  TMainForm* p = w_.panel;
  // The calibration boxes first, so that their reactions show both channels' pages again.
  for (auto& c : p->ch) c.mode[ModeSine].calibration->setChecked(false);
  for (const SceneField& f : sceneFields()) {
    if (f.group == SceneGroup::NotCopied) continue;
    QWidget* w = p->findChild<QWidget*>(f.name);
    if (!w && w_.rxView) w = w_.rxView->findChild<QWidget*>(f.name);
    if (!w) continue;
    // A fresh panel shows the first page of each page control (a fresh scene does not).
    if (auto* pages = qobject_cast<TPageControl*>(w))
      pages->setActivePageIndex(0);
    else if (auto* radio = qobject_cast<TRadioGroup*>(w))
      radio->setItemIndex(int(f.defaultValue));
    else if (auto* box = qobject_cast<QCheckBox*>(w))
      box->setChecked(f.defaultValue != 0);
    else if (auto* real = qobject_cast<TRealSpinEdit*>(w))
      real->setValue(f.defaultValue);
    else if (auto* integer = qobject_cast<TSpinEdit*>(w))
      integer->setValue(int(f.defaultValue));
  }
  p->Ch1S_OffCheckBox->setChecked(false);
  // Pages selected from code run no reaction: run them as the tab clicks would.
  p->Ch1_PageControlChange();
  p->Ch2_PageControlChange();
  p->SyncPageControlChange();
  p->SyncLevelPBSpinEditChange();
  if (w_.rxView) w_.rxView->RangeRadioGroupClick();
}

int PanelInstrument::execute(const Call& call, std::string& reply) {
  switch (call.node.command) {
    case Command::SourceMode:
    case Command::SourceAmplitude:
    case Command::SourceSign:
    case Command::SourceDelay:
    case Command::SourceWidth:
    case Command::SourcePause:
    case Command::SourceCount:
    case Command::SourceFrequency:
    case Command::SourceStep:
    case Command::SourceAttenuation:
    case Command::SourceRfModulation:
    case Command::SourceAm:
    case Command::SourceAmFrequency:
    case Command::SourceDivider:
    case Command::SourceCalibration:
    case Command::SourceOffDivider: return source(call, reply);
    case Command::TriggerSource:
    case Command::TriggerSlope:
    case Command::TriggerLevel:
    case Command::TriggerClockPeriod: return trigger(call, reply);
    case Command::InputRange:
    case Command::InputLoad: return input(call, reply);
    case Command::SceneApply:
    case Command::SceneCapture:
    case Command::SceneName:
    case Command::SceneSelect: return scene(call, reply);
    case Command::SceneComment: return w_.scenes ? textField(w_.scenes->CommentEdit, call, reply) : UndefinedHeader;
    case Command::DisplayComment: return textField(w_.panel->CommentEdit, call, reply);
    case Command::StatusDevice: return call.params.empty() ? statusDevice(reply) : ParameterNotAllowed;
    case Command::SystemLink: return call.params.empty() ? link(reply) : ParameterNotAllowed;
    case Command::SystemPacket: return call.params.empty() ? packet(reply) : ParameterNotAllowed;
    case Command::MeasurePulse: return call.params.empty() ? measurePulse(reply) : ParameterNotAllowed;
    case Command::TraceData: return call.params.empty() ? traceData(call, reply) : ParameterNotAllowed;
    default: return UndefinedHeader;
  }
}

int PanelInstrument::source(const Call& call, std::string& reply) {
  TMainForm* p = w_.panel;
  const int channel = call.captures.values.at(0);
  if (channel < 1 || channel > 2) return UndefinedHeader;
  const int c = channel - 1;
  ChannelControls& cc = p->ch[std::size_t(c)];
  // The other channel's calibration mode hides this channel's pages: nothing on them can be
  // changed then (the off page's divider box is what shows instead).
  const bool covered = cc.pages->isHidden();
  auto runPageChange = [p, c] { c == 0 ? p->Ch1_PageControlChange() : p->Ch2_PageControlChange(); };

  if (call.node.command == Command::SourceMode) {
    if (call.query) {
      if (!call.params.empty()) return ParameterNotAllowed;
      const int page = cc.pages->activePageIndex();
      reply = page < 0 ? "NONE" : shortKeyword(kModes, page);
      return 0;
    }
    if (int e = expectParams(call.params, 1)) return e;
    int mode = 0;
    if (int e = readChoice(call.params[0], kModes, mode)) return e;
    if (covered) return SettingsConflict;
    cc.pages->setActivePageIndex(mode);
    runPageChange();
    return 0;
  }
  if (call.node.command == Command::SourceOffDivider) {
    if (c != 0) return UndefinedHeader;
    return checkField(p->Ch1S_OffCheckBox, call, reply);
  }

  const int mode = call.captures.values.at(1);
  ModePageControls& m = cc.mode[std::size_t(mode)];
  if (covered && !call.query) return SettingsConflict;
  switch (call.node.command) {
    case Command::SourceAmplitude: return m.ampl ? realField(m.ampl, Quantity::Decibel, call, reply) : UndefinedHeader;
    case Command::SourceSign: return m.sign ? radioField(m.sign, kSigns, call, reply) : UndefinedHeader;
    case Command::SourceDelay: return m.delay ? realField(m.delay, Quantity::Microsecond, call, reply) : UndefinedHeader;
    case Command::SourceWidth: return m.time ? realField(m.time, Quantity::Microsecond, call, reply) : UndefinedHeader;
    case Command::SourcePause: return m.pause ? realField(m.pause, Quantity::Microsecond, call, reply) : UndefinedHeader;
    case Command::SourceCount: return m.count ? intField(m.count, Quantity::None, call, reply) : UndefinedHeader;
    case Command::SourceFrequency:
      return m.freq ? realField(m.freq, Quantity::Megahertz, call, reply) : UndefinedHeader;
    case Command::SourceStep: return m.dfreq ? realField(m.dfreq, Quantity::Megahertz, call, reply) : UndefinedHeader;
    case Command::SourceAttenuation: return m.loss ? realField(m.loss, Quantity::Decibel, call, reply) : UndefinedHeader;
    case Command::SourceRfModulation: return m.hfModulation ? checkField(m.hfModulation, call, reply) : UndefinedHeader;
    case Command::SourceAm: return m.amModulation ? checkField(m.amModulation, call, reply) : UndefinedHeader;
    case Command::SourceAmFrequency: return m.am ? realField(m.am, Quantity::Kilohertz, call, reply) : UndefinedHeader;
    case Command::SourceDivider: return m.divider ? checkField(m.divider, call, reply) : UndefinedHeader;
    case Command::SourceCalibration: {
      if (!m.calibration) return UndefinedHeader;
      // The box can only be ticked on the sine page an operator sees: switching the other
      // channel into a copy of a channel that does not send a sine makes no sense.
      if (!call.query && !call.params.empty() && cc.pages->activePageIndex() != ModeSine) {
        bool on = false;
        if (int e = readBool(call.params[0], on)) return e;
        if (on) return SettingsConflict;
      }
      return checkField(m.calibration, call, reply);
    }
    default: return UndefinedHeader;
  }
}

int PanelInstrument::trigger(const Call& call, std::string& reply) {
  TMainForm* p = w_.panel;
  switch (call.node.command) {
    case Command::TriggerSource: {
      if (call.query) {
        if (!call.params.empty()) return ParameterNotAllowed;
        const int page = p->SyncPageControl->activePageIndex();
        reply = page < 0 ? "NONE" : shortKeyword(kSyncModes, page);
        return 0;
      }
      if (int e = expectParams(call.params, 1)) return e;
      int mode = 0;
      if (int e = readChoice(call.params[0], kSyncModes, mode)) return e;
      p->SyncPageControl->setActivePageIndex(mode);
      p->SyncPageControlChange();
      return 0;
    }
    case Command::TriggerSlope: return radioField(p->SyncPolarRadioGroup, kSlopes, call, reply);
    case Command::TriggerLevel: return intField(p->SyncLevelPBSpinEdit, Quantity::Percent, call, reply);
    case Command::TriggerClockPeriod: return realField(p->TactPBSuperSpin, Quantity::Microsecond, call, reply);
    default: return UndefinedHeader;
  }
}

int PanelInstrument::input(const Call& call, std::string& reply) {
  if (!w_.rxView) return UndefinedHeader;
  if (call.node.command == Command::InputRange) {
    static constexpr int kVolts[] = {300, 150, 50};
    TRadioGroup* r = w_.rxView->RangeRadioGroup;
    // MIN and MAX are the smallest and the largest range, DEF a fresh panel's.
    const int limitItem[] = {-1, 2, 0, int(designValue(r))};
    if (call.query) {
      int which = 0;
      if (int e = readLimitQuery(call.params, which)) return e;
      const int i = which ? limitItem[which] : r->itemIndex();
      reply = i >= 0 && i < 3 ? std::to_string(kVolts[i]) : "NONE";
      return 0;
    }
    if (int e = expectParams(call.params, 1)) return e;
    const Parameter& v = call.params[0];
    if (int which = 0; v.kind == ParamKind::Mnemonic && readLimitQuery(call.params, which) == 0) {
      r->setItemIndex(limitItem[which]);
      w_.rxView->RangeRadioGroupClick();
      return 0;
    }
    if (v.kind != ParamKind::Number) return v.kind == ParamKind::Mnemonic ? IllegalParameterValue : ParameterError;
    if (!v.suffix.empty() && v.suffix != "V") return InvalidSuffix;
    int item = -1;
    for (int i = 0; i < 3; ++i)
      if (v.number == kVolts[i]) item = i;
    if (item < 0) return IllegalParameterValue;
    r->setItemIndex(item);
    w_.rxView->RangeRadioGroupClick();  // the range code the packet carries
    return 0;
  }
  QCheckBox* load = w_.rxView->R50CheckBox;
  if (call.query) {
    if (!call.params.empty()) return ParameterNotAllowed;
    reply = load->isChecked() ? "50" : "HIGH";
    return 0;
  }
  if (int e = expectParams(call.params, 1)) return e;
  const Parameter& v = call.params[0];
  if (v.kind == ParamKind::Number) {
    if (!v.suffix.empty() && v.suffix != "OHM") return InvalidSuffix;
    if (v.number != 50) return IllegalParameterValue;
    load->setChecked(true);
    return 0;
  }
  if (v.kind != ParamKind::Mnemonic) return ParameterError;
  if (v.text != "HIGH" && v.text != "INF") return IllegalParameterValue;
  load->setChecked(false);
  return 0;
}

int PanelInstrument::scene(const Call& call, std::string& reply) {
  TSchemaForm* s = w_.scenes;
  if (!s) return UndefinedHeader;
  if (call.node.command == Command::SceneSelect) {
    if (!call.params.empty()) return ParameterNotAllowed;
    reply = std::to_string(s->ScenaRadioGroup->itemIndex() + 1);
    return 0;
  }
  static const NumericLimits kSceneNumber{1, kSceneCount, 1, Quantity::None, true};
  auto sceneNumber = [&](int& n) {
    if (call.params.empty()) return int(MissingParameter);
    long double v = 0;
    if (int e = readNumber(call.params[0], kSceneNumber, v)) return e;
    n = int(std::lround(double(v)));
    return 0;
  };
  int n = 0;
  if (call.node.command == Command::SceneName) {
    if (call.query) {
      if (int e = expectParams(call.params, 1)) return e;
      if (int e = sceneNumber(n)) return e;
      reply = scpi::quoted(s->Edit[std::size_t(n - 1)]->text().toStdString());
      return 0;
    }
    if (int e = expectParams(call.params, 2)) return e;
    if (int e = sceneNumber(n)) return e;
    // The name field's change handler names the scene and the panel.
    return textField(s->Edit[std::size_t(n - 1)], call.params[1]);
  }
  if (int e = expectParams(call.params, 1)) return e;
  if (int e = sceneNumber(n)) return e;
  if (call.node.command == Command::SceneCapture) {
    s->CaptureScene(s->scene(n));
    return 0;
  }
  // As the operator's click on the scene: a new selection runs the selection behaviour (which
  // applies the scene); the selected one is applied again, as a script asking for it expects.
  if (s->ScenaRadioGroup->itemIndex() != n - 1)
    s->ScenaRadioGroup->setItemIndex(n - 1);
  else
    s->ScenaRadioGroupClick();
  return 0;
}

int PanelInstrument::statusDevice(std::string& reply) {
  const std::optional<StatusFields>& shown = w_.panel->shownStatus();
  if (deviceName().isEmpty() || !shown) {
    // No link (the report shown is an old one) or no report yet: every field unknown.
    reply = std::string("NONE,") + kNotANumber + "," + kNotANumber + ",NONE," + kNotANumber + "," + kNotANumber +
            ",NONE,NONE,NONE," + kNotANumber + "," + kNotANumber + "," + kNotANumber + "," + kNotANumber;
    return 0;
  }
  const StatusFields& f = *shown;
  reply = shortKeyword(kModes, f.mode1) + "," + formatNumber(f.ampl1Db, 2) + "," + formatNumber(f.f1MHz, 5) + "," +
          shortKeyword(kModes, f.mode2) + "," + formatNumber(f.ampl2Db, 2) + "," + formatNumber(f.f2MHz, 5) + "," +
          (f.range300 ? "300" : "150") + "," + (f.syncMode <= 2 ? shortKeyword(kSyncModes, f.syncMode) : "NONE") +
          "," + (f.edgePositive ? "POS" : "NEG") + "," + std::to_string(f.syncLevel) + "," +
          std::to_string(f.sceneRequest) + "," + (f.divider1In ? "1" : "0") + "," + std::to_string(f.probeHz);
  return 0;
}

int PanelInstrument::link(std::string& reply) {
  const QString name = deviceName();
  reply = std::string(name.isEmpty() ? "0," : "1,") + scpi::quoted(name.toStdString());
  return 0;
}

int PanelInstrument::packet(std::string& reply) {
  std::array<std::uint8_t, kCommandPacketSize> bytes{};
  TUSB_Thread* t = w_.link ? w_.link->currentThread() : nullptr;
  if (t && t->hasDevice() && w_.link->linkUp())
    std::memcpy(bytes.data(), t->commandPayload().data(), bytes.size());
  else
    w_.panel->BuildCommandPacket(bytes);  // no exchange: the packet the panel would send
  static const char* const kHex = "0123456789ABCDEF";
  reply.clear();
  for (std::uint8_t v : bytes) {
    reply += kHex[v >> 4];
    reply += kHex[v & 15];
  }
  return 0;
}

int PanelInstrument::measurePulse(std::string& reply) {
  if (!w_.rxView) return UndefinedHeader;
  // The pulse page's search on the trace as drawn last, without its running averages: a
  // script asks for one trace.
  // Nothing has been drawn before the first buffer: the trace is the flat zero line then, on
  // which no pulse can be measured.
  const rx::RxData& data = w_.rxView->rxData();
  if (std::all_of(data.begin(), data.end(), [](double v) { return v == 0; })) {
    reply = std::string(kNotANumber) + "," + kNotANumber;
    return 0;
  }
  const TChartSeries* trace = w_.rxView->Series1;
  const int n = trace->count();
  auto x = [trace](int i) { return trace->x(i); };
  auto y = [trace](int i) { return trace->y(i); };
  const bool positive = w_.panel->SyncLevelPBSpinEdit->value() > 0;
  const rx::Peak peak = rx::findPeak(n, positive, y);
  const double level = w_.rxView->LevelPBSpinEdit->value() * peak.value / 100;
  const double width = rx::rightCrossing(n, peak.index, level, x, y) - rx::leftCrossing(n, peak.index, level, x, y);
  reply = formatNumber(peak.value, 3) + "," + formatNumber(width, 3);
  return 0;
}

int PanelInstrument::traceData(const Call& call, std::string& reply) {
  if (!w_.rxView) return UndefinedHeader;
  const TChartSeries* trace = w_.rxView->Series1;
  const int n = trace->count();
  reply.clear();
  if (call.asciiTrace) {
    reply.reserve(std::size_t(n) * 9);
    char buf[32];
    for (int i = 0; i < n; ++i) {
      if (i) reply += ',';
      const int len = std::snprintf(buf, sizeof buf, "%.6g", trace->y(i));
      for (int k = 0; k < len; ++k) reply += buf[k] == ',' ? '.' : buf[k];
    }
    return 0;
  }
  // IEEE 488.2 definite-length block: '#', the digit count, the byte count, the bytes.
  const std::string count = std::to_string(std::size_t(n) * 4);
  reply.assign(1, '#');
  reply += std::to_string(count.size());
  reply += count;
  reply.reserve(reply.size() + std::size_t(n) * 4);
  for (int i = 0; i < n; ++i) {
    const float v = float(trace->y(i));
    std::uint32_t bits = 0;
    std::memcpy(&bits, &v, 4);
    for (int k = 0; k < 4; ++k) reply += char((bits >> (8 * k)) & 0xFF);  // little-endian
  }
  return 0;
}
