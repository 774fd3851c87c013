#pragma once
// What a scene holds: one entry per field, in the order a scene page creates its controls,
// which is the order of the keys in the scene's section of a scenario file and, for the
// copied fields, the order in which a scene is applied and captured.
//
// The field names are the panel's and the receive view's control names, and the keys of
// stored scenario files. Pure data: no widget is made here.

#include <QString>
#include <QStringList>
#include <vector>

enum class SceneFieldKind { Text, Page, Radio, Check, Real, Integer, Slider };

// Which step of an apply or capture copies a field. NotCopied fields (the scene's name and
// its level slider) live in the scene only.
enum class SceneGroup { NotCopied, Channel1, Channel2, Sync, Input };

struct RealFieldLimits {
  long double min = 0;
  long double max = 0;
  int decimals = 0;
  long double increment = 1;
  bool round = false;
  int maxLength = 0;
};

struct SceneField {
  QString name;
  SceneFieldKind kind = SceneFieldKind::Text;
  SceneGroup group = SceneGroup::NotCopied;
  QString caption;    // check boxes and radio groups
  QStringList items;  // radio-group items, page-control captions
  RealFieldLimits real;
  int intMin = 0;  // integer fields and the slider
  int intMax = 0;
  // Real and integer value, item or page index, 1/0 for a check box.
  long double defaultValue = 0;
  QString defaultText;  // the name field
};

// 76 fields: the name, 74 copied values, the level slider.
const std::vector<SceneField>& sceneFields();

// The index of the field of that name in sceneFields(), -1 if a scene has none.
int sceneFieldIndex(QStringView name);

inline constexpr int kSceneCount = 9;
inline constexpr int kCopiedSceneFields = 74;

// "Сцена 1" ... "Сцена 9".
QString sceneTitle(int number);
// The window (and file section) name of scene 1-9: "ScenaForm", then "ScenaForm_1" to
// "ScenaForm_8". Stored scenario files rely on these names.
QString sceneWindowName(int number);
