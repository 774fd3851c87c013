#include "scenes/schema_form.h"

#include "panel/main_form.h"
#include "widgets/status_bar.h"

TSchemaForm* SchemaForm = nullptr;

TSchemaForm::TSchemaForm(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::WindowCloseButtonHint | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
  SchemaForm = this;
  setObjectName(QStringLiteral("SchemaForm"));
  setWindowTitle(QStringLiteral("Управление сценариями"));
  setFixedSize(456, 335);
  statusBar_ = new TStatusBar(this);
  statusBar_->setObjectName(QStringLiteral("StatusBar1"));
  statusBar_->addPanel(0, QString());
  statusBar_->setGeometry(0, height() - statusBar_->height(), width(), statusBar_->height());
  FormCreate();
}

void TSchemaForm::FormCreate() {
  // Right of the control panel with a 2-pixel gap, the two bottom edges level.
  if (MainForm) {
    const QRect panel = MainForm->frameGeometry();
    move(panel.x() + panel.width() + 2, panel.y() + panel.height() - frameGeometry().height());
  }
}

void TSchemaForm::SceneRequest(std::uint8_t request) {
  // Scenes are applied from here once the scenario store exists; the request is shown now.
  setStatusText(QStringLiteral(" Запрос ") + QStringLiteral("%1").arg(request, 2, 16, QLatin1Char('0')).toUpper() +
                QStringLiteral("h"));
}

void TSchemaForm::setStatusText(const QString& text) { statusBar_->setPanelText(0, text); }

QString TSchemaForm::statusText() const { return statusBar_->panelText(0); }

TSchemaForm::~TSchemaForm() {
  if (SchemaForm == this) SchemaForm = nullptr;
}
