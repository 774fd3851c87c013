#include "rxview/rx_draw_form.h"

#include "panel/main_form.h"
#include "widgets/radio_group.h"

#include <QCheckBox>
#include <QLabel>

TRxDrawForm* RxDrawForm = nullptr;

namespace {
void styleLoadBox(QCheckBox* box) {
  QFont f = box->font();
  f.setBold(true);
  box->setFont(f);
  QPalette p = box->palette();
  p.setColor(QPalette::WindowText, box->isChecked() ? QColor(Qt::black) : QColor(128, 128, 128));
  box->setPalette(p);
}
}  // namespace

TRxDrawForm::TRxDrawForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  RxDrawForm = this;
  setObjectName(QStringLiteral("RxDrawForm"));
  setWindowTitle(QStringLiteral("Зондирующий импульс или сигнал внешней синхронизации"));
  resize(530, 639);  // client area of the design window (538 x 666 outside)

  RangeRadioGroup = new TRadioGroup(this);
  RangeRadioGroup->setObjectName(QStringLiteral("RangeRadioGroup"));
  RangeRadioGroup->setTitle(QStringLiteral("Диапазон амплитуд \"Вход ЗИ\""));
  QFont bold = RangeRadioGroup->font();
  bold.setBold(true);
  RangeRadioGroup->setFont(bold);
  RangeRadioGroup->setColumns(3);
  RangeRadioGroup->setItems({QStringLiteral("300В"), QStringLiteral("150В"), QStringLiteral("50В")});
  RangeRadioGroup->setItemIndex(0);
  RangeRadioGroup->setGeometry(8, 560, 250, 44);

  R50CheckBox = new QCheckBox(QStringLiteral("Нагрузка 50 Ом"), this);
  R50CheckBox->setObjectName(QStringLiteral("R50CheckBox"));
  R50CheckBox->setGeometry(270, 574, 140, 22);
  styleLoadBox(R50CheckBox);

  Label8 = new QLabel(QStringLiteral("Частота ЗИ"), this);
  Label8->setObjectName(QStringLiteral("Label8"));
  Label8->setGeometry(420, 560, 100, 18);
  FZILabel = new QLabel(QStringLiteral("00 000 Гц"), this);
  FZILabel->setObjectName(QStringLiteral("FZILabel"));
  FZILabel->setFont(bold);
  FZILabel->setGeometry(420, 580, 100, 18);

  connect(RangeRadioGroup, &TRadioGroup::clicked, this, &TRxDrawForm::RangeRadioGroupClick);
  connect(R50CheckBox, &QCheckBox::toggled, this, &TRxDrawForm::R50CheckBoxClick);
  FormCreate();
}

TRxDrawForm::~TRxDrawForm() {
  if (RxDrawForm == this) RxDrawForm = nullptr;
}

void TRxDrawForm::FormCreate() {
  // Beside the control panel, tops level, a 2-pixel gap.
  if (MainForm) move(MainForm->x() + MainForm->frameGeometry().width() + 2, MainForm->y());
}

bool TRxDrawForm::load50Ohm() const { return R50CheckBox->isChecked(); }

void TRxDrawForm::setProbeFrequencyText(const QString& text) { FZILabel->setText(text); }

void TRxDrawForm::RangeRadioGroupClick() {
  switch (RangeRadioGroup->itemIndex()) {
    case 0: rangeCode_ = 0; break;
    case 1: rangeCode_ = 1; break;
    case 2: rangeCode_ = 3; break;  // the device's code for 50 V is 3, not 2
    default: rangeCode_ = 0; break;
  }
}

void TRxDrawForm::R50CheckBoxClick() { styleLoadBox(R50CheckBox); }
