#pragma once
// The scenario window: nine scenes, selected, named, recorded, loaded and saved.

#include <QWidget>

#include <cstdint>

class TStatusBar;

class TSchemaForm : public QWidget {
  Q_OBJECT
 public:
  explicit TSchemaForm(QWidget* parent = nullptr);
  ~TSchemaForm() override;

  // The scene-request byte of every status report.
  void SceneRequest(std::uint8_t request);
  void setStatusText(const QString& text);
  QString statusText() const;

 private:
  void FormCreate();
  TStatusBar* statusBar_ = nullptr;
};

extern TSchemaForm* SchemaForm;
