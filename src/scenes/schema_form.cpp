#include "scenes/schema_form.h"

#include "panel/main_form.h"

TSchemaForm* SchemaForm = nullptr;

TSchemaForm::TSchemaForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  SchemaForm = this;
  setObjectName(QStringLiteral("SchemaForm"));
  setWindowTitle(QStringLiteral("Управление сценариями"));
  setFixedSize(456, 335);
  FormCreate();
}

void TSchemaForm::FormCreate() {
  // Right of the control panel with a 2-pixel gap, the two bottom edges level.
  if (MainForm) {
    const QRect panel = MainForm->frameGeometry();
    move(panel.x() + panel.width() + 2, panel.y() + panel.height() - frameGeometry().height());
  }
}
