#pragma once
// The scenario window: nine scenes, selected, named, recorded, loaded and saved.

#include <QWidget>

class TSchemaForm : public QWidget {
  Q_OBJECT
 public:
  explicit TSchemaForm(QWidget* parent = nullptr);

 private:
  void FormCreate();
};

extern TSchemaForm* SchemaForm;
