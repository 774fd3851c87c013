#include "scenes/scene_fields.h"

#include <QHash>

namespace {

// Limits as on the panel, except that the delay, duration and pause fields of a scene accept
// values from 0.005 us (the panel's from 0.05); the maxima are the panel's.
constexpr RealFieldLimits kAmplitude{-60, 0, 1, 0.1L, false, 5};
constexpr RealFieldLimits kLoss{-10, 0, 1, 0.1L, false, 4};
constexpr RealFieldLimits kFrequency{0.1L, 16, 2, 0.01L, true, 11};
constexpr RealFieldLimits kFrequencyStep{0, 2, 2, 0.01L, true, 11};
constexpr RealFieldLimits kDelay{0.005L, 80000, 3, 0.005L, true, 11};
constexpr RealFieldLimits kDuration{0.005L, 320, 3, 0.005L, true, 10};
constexpr RealFieldLimits kPause{0.005L, 320, 3, 0.005L, true, 10};
constexpr RealFieldLimits kAmFrequency{0.01L, 100, 2, 0.01L, true, 11};
constexpr RealFieldLimits kClockPeriod{10, 1000000, 1, 0.1L, true, 10};

class Builder {
 public:
  std::vector<SceneField> fields;

  void text(const char* name, const QString& value) {
    SceneField f = make(name, SceneFieldKind::Text);
    f.defaultText = value;
    fields.push_back(f);
  }
  void page(const QString& name, const QStringList& captions, int index) {
    SceneField f = make(name, SceneFieldKind::Page);
    f.items = captions;
    f.defaultValue = index;
    fields.push_back(f);
  }
  void radio(const QString& name, const QString& caption, const QStringList& items) {
    SceneField f = make(name, SceneFieldKind::Radio);
    f.caption = caption;
    f.items = items;
    fields.push_back(f);  // item 0 everywhere
  }
  void check(const QString& name, const QString& caption, bool on) {
    SceneField f = make(name, SceneFieldKind::Check);
    f.caption = caption;
    f.defaultValue = on ? 1 : 0;
    fields.push_back(f);
  }
  void real(const QString& name, const RealFieldLimits& limits, long double value) {
    SceneField f = make(name, SceneFieldKind::Real);
    f.real = limits;
    f.defaultValue = value;
    fields.push_back(f);
  }
  void integer(const QString& name, SceneFieldKind kind, int min, int max, int value) {
    SceneField f = make(name, kind);
    f.intMin = min;
    f.intMax = max;
    f.defaultValue = value;
    fields.push_back(f);
  }

  SceneGroup group = SceneGroup::NotCopied;

 private:
  SceneField make(const QString& name, SceneFieldKind kind) const {
    SceneField f;
    f.name = name;
    f.kind = kind;
    f.group = group;
    return f;
  }
};

// One channel in copy order: the page index, then page by page (pulse, A series, F series,
// sine) the fields in the order the scene copies them. Channel 2 has no divider boxes.
void addChannel(Builder& b, int channel) {
  const QString ch = QStringLiteral("Ch%1").arg(channel);
  const bool divider = channel == 1;
  const auto n = [&](const char* letter, const char* part) {
    return ch + QLatin1String(letter) + u'_' + QLatin1String(part);
  };
  const QStringList sign{QStringLiteral("+"), QStringLiteral("-")};
  const QString signCaption = QStringLiteral("Знак сигнала");
  const QString dividerCaption = QStringLiteral("Делитель 20дБ");

  b.group = channel == 1 ? SceneGroup::Channel1 : SceneGroup::Channel2;
  // A fresh scene starts channel 1 on the sine page and channel 2 on the A series page.
  b.page(ch + QStringLiteral("_PageControl"),
         {QStringLiteral("Импульс"), QStringLiteral("А серия"), QStringLiteral("F серия"),
          QStringLiteral("Синус"), QStringLiteral("ВЫКЛ")},
         channel == 1 ? 3 : 1);

  b.radio(n("I", "RadioGroup"), signCaption, sign);
  if (divider) b.check(n("I", "LossCheckBox"), dividerCaption, false);
  b.real(n("I", "AmplPBSuperSpin"), kAmplitude, -2.3L);
  // The panel's channel-2 pulse caption carries four trailing blanks; the copy keeps them.
  b.check(n("I", "HFModulationCheckBox"),
          channel == 1 ? QStringLiteral("ВЧ модуляция") : QStringLiteral("ВЧ модуляция    "), true);
  b.real(n("I", "FreqPBSuperSpin"), kFrequency, 2.5L);
  b.real(n("I", "DelayPBSuperSpin"), kDelay, 100.245L);
  b.real(n("I", "TimePBSuperSpin"), kDuration, 100.245L);
  b.check(n("I", "AMCheckBox"), QStringLiteral("АМ НЧ модуляция"), false);
  b.real(n("I", "AMPBSuperSpin"), kAmFrequency, 1);

  b.radio(n("A", "RadioGroup"), signCaption, sign);
  if (divider) b.check(n("A", "LossCheckBox"), dividerCaption, false);
  b.real(n("A", "AmplPBSuperSpin"), kAmplitude, -2.3L);
  b.real(n("A", "LossPBSuperSpin"), kLoss, -6);
  b.real(n("A", "FreqPBSuperSpin"), kFrequency, 2.5L);
  b.real(n("A", "DelayPBSuperSpin"), kDelay, 100.245L);
  b.real(n("A", "TimePBSuperSpin"), kDuration, 100.245L);
  b.real(n("A", "PausePBSuperSpin"), kPause, 100.245L);
  b.integer(n("A", "CountPBSpinEdit"), SceneFieldKind::Integer, 1, 50, 10);

  b.radio(n("F", "RadioGroup"), signCaption, sign);
  if (divider) b.check(n("F", "LossCheckBox"), dividerCaption, false);
  b.real(n("F", "AmplPBSuperSpin"), kAmplitude, -2.3L);
  b.real(n("F", "FreqPBSuperSpin"), kFrequency, 2.5L);
  b.real(n("F", "DfreqPBSuperSpin"), kFrequencyStep, 0.5L);
  b.real(n("F", "DelayPBSuperSpin"), kDelay, 100.245L);
  b.real(n("F", "TimePBSuperSpin"), kDuration, 100.245L);
  b.real(n("F", "PausePBSuperSpin"), kPause, 100.245L);
  b.integer(n("F", "CountPBSpinEdit"), SceneFieldKind::Integer, 1, 50, 10);

  b.radio(n("S", "RadioGroup"), signCaption, sign);
  if (divider) b.check(n("S", "LossCheckBox"), dividerCaption, false);
  b.real(n("S", "AmplPBSuperSpin"), kAmplitude, -2.3L);
  b.check(n("S", "HFModulationCheckBox"), QStringLiteral("ВЧ модуляция"), true);
  b.real(n("S", "FreqPBSuperSpin"), kFrequency, 2.5L);
  b.check(n("S", "AMCheckBox"), QStringLiteral("АМ НЧ модуляция"), false);
  b.real(n("S", "AMPBSuperSpin"), kAmFrequency, 1);
  // Last of the channel: switching it on acts on the other channel's page while it arrives.
  b.check(
      channel == 1 ? QStringLiteral("Ch1S_RF_To_Ch2_CheckBox") : QStringLiteral("Ch2S_RF_To_Ch1_CheckBox"),
      QStringLiteral("Режим поверки и калибровки канала #%1").arg(channel), false);
}

std::vector<SceneField> buildFields() {
  Builder b;
  b.group = SceneGroup::NotCopied;
  b.text("CommentEdit", QStringLiteral("Наименование сцены"));
  addChannel(b, 1);
  addChannel(b, 2);

  b.group = SceneGroup::Sync;
  b.page(QStringLiteral("SyncPageControl"),
         {QStringLiteral("Авто"), QStringLiteral("Внешняя (от ЗИ)"), QStringLiteral("Тактовый генератор")},
         1);
  b.real(QStringLiteral("TactPBSuperSpin"), kClockPeriod, 1000);
  b.radio(QStringLiteral("SyncPolarRadioGroup"), QStringLiteral("Фронт"),
          {QStringLiteral("- отрицательный"), QStringLiteral("+ положительный")});
  b.integer(QStringLiteral("SyncLevelPBSpinEdit"), SceneFieldKind::Integer, -120, 120, -20);
  // Stored with the scene, never copied: the panel's slider follows its level field. Unlike
  // the panel's (+-95) it covers the level field's whole range.
  b.group = SceneGroup::NotCopied;
  b.integer(QStringLiteral("SyncLevelTrackBar"), SceneFieldKind::Slider, -120, 120, -20);

  b.group = SceneGroup::Input;
  b.radio(QStringLiteral("RangeRadioGroup"), QStringLiteral("Диапазон амплитуд \"Вход ЗИ\""),
          {QStringLiteral("300В"), QStringLiteral("150В"), QStringLiteral("50В")});
  b.check(QStringLiteral("R50CheckBox"), QStringLiteral("Нагрузка 50 Ом"), false);
  return b.fields;
}

}  // namespace

const std::vector<SceneField>& sceneFields() {
  static const std::vector<SceneField> fields = buildFields();
  return fields;
}

int sceneFieldIndex(QStringView name) {
  static const QHash<QString, int> index = [] {
    QHash<QString, int> h;
    const std::vector<SceneField>& f = sceneFields();
    for (int i = 0; i < int(f.size()); ++i) h.insert(f[size_t(i)].name, i);
    return h;
  }();
  return index.value(name.toString(), -1);
}

QString sceneTitle(int number) { return QStringLiteral("Сцена %1").arg(number); }

QString sceneWindowName(int number) {
  return number <= 1 ? QStringLiteral("ScenaForm") : QStringLiteral("ScenaForm_%1").arg(number - 1);
}
