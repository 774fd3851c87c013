#include "panel/main_form.h"

#include "shell/message_form.h"

#include <QCloseEvent>

TMainForm* MainForm = nullptr;

TMainForm::TMainForm(QWidget* parent) : QWidget(parent, Qt::Window | Qt::WindowMinimizeButtonHint |
                                                             Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint |
                                                             Qt::WindowTitleHint) {
  MainForm = this;
  setObjectName(QStringLiteral("MainForm"));
  setWindowTitle(QStringLiteral("Синтезатор сигналов QZ418 версия C"));
  setFixedSize(703, 671);
  FormCreate();
}

void TMainForm::FormCreate() {
  move(1, 1);
  if (!MessageForm) MessageForm = new TMessageForm(this);
}

void TMainForm::closeEvent(QCloseEvent* e) {
  e->accept();
  emit closed();
}
