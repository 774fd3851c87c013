#pragma once
// The receive view: the probe-pulse input plotted over time. It also keeps the two input
// settings the command packet carries: the amplitude range and the 50-ohm load.

#include <QWidget>

class QCheckBox;
class QLabel;
class TRadioGroup;

class TRxDrawForm : public QWidget {
  Q_OBJECT
 public:
  explicit TRxDrawForm(QWidget* parent = nullptr);
  ~TRxDrawForm() override;

  // The input range code the packet carries: 0 "300В", 1 "150В", 3 "50В".
  int rangeCode() const { return rangeCode_; }
  bool load50Ohm() const;
  void setProbeFrequencyText(const QString& text);

  void RangeRadioGroupClick();
  void R50CheckBoxClick();

  TRadioGroup* RangeRadioGroup = nullptr;
  QCheckBox* R50CheckBox = nullptr;
  QLabel* Label8 = nullptr;
  QLabel* FZILabel = nullptr;

 private:
  void FormCreate();
  int rangeCode_ = 0;  // the radio group's tag
};

extern TRxDrawForm* RxDrawForm;
