#include "rxview/rx_draw_form.h"

#include "panel/main_form.h"

TRxDrawForm* RxDrawForm = nullptr;

TRxDrawForm::TRxDrawForm(QWidget* parent) : QWidget(parent, Qt::Window) {
  RxDrawForm = this;
  setObjectName(QStringLiteral("RxDrawForm"));
  setWindowTitle(QStringLiteral("Зондирующий импульс или сигнал внешней синхронизации"));
  resize(530, 639);  // client area of the design window (538 x 666 outside)
  FormCreate();
}

void TRxDrawForm::FormCreate() {
  // Beside the control panel, tops level, a 2-pixel gap.
  if (MainForm) move(MainForm->x() + MainForm->frameGeometry().width() + 2, MainForm->y());
}
