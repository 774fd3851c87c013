#include "usb/link_form.h"

TLinkForm* LinkForm = nullptr;

TLinkForm::TLinkForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  LinkForm = this;
  setObjectName(QStringLiteral("LinkForm"));
  setWindowTitle(QStringLiteral("События USB "));  // the trailing blank is part of the caption
  setFixedSize(324, 550);
  FormCreate();
}

void TLinkForm::FormCreate() { move(884, 303); }

TLinkForm::~TLinkForm() {
  if (LinkForm == this) LinkForm = nullptr;
}
