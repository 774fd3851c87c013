#pragma once
// The USB events window: owns the link to the synthesizer and logs what happens to it.

#include <QWidget>

class TLinkForm : public QWidget {
  Q_OBJECT
 public:
  explicit TLinkForm(QWidget* parent = nullptr);
  ~TLinkForm() override;

 private:
  void FormCreate();
};

extern TLinkForm* LinkForm;
