// Termination requests against real Qt boxes: the operator's own box is closed with the answer
// that changes nothing; the exit's question is answered Yes only when the exit is asked again.
#include "shell/exit_boxes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <optional>

#include "widgets/dialogs.h"

TEST(ExitBoxes, TheExitAnswersOnlyItsOwnBoxes) {
  enum class Operator { None, Question, SaveDialog, Notice };
  const struct Row {
    const char* name;
    Operator box;  // open when the first request comes
    int requests;  // the others come while the exit's question is open
    bool atOnce;   // all read together (two signals in one go)
    bool exitSaid;  // the exit's "Сохранить состояние?" (a single request: the operator says No)
  } rows[] = {
      {"TERM, then INT while the exit asks", Operator::Question, 2, false, true},
      {"two signals at once", Operator::Question, 2, true, true},
      {"one signal", Operator::Question, 1, false, false},
      {"the operator's save dialog", Operator::SaveDialog, 2, false, true},
      {"the operator's notice", Operator::Notice, 2, false, true},
      {"no box of the operator's", Operator::None, 2, false, true},
  };
  std::unique_ptr<Dialogs> scripted = installDialogs(nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    bool exiting = false, operatorDone = row.box == Operator::None;
    ExitBoxes boxes([&] { return exiting; });
    std::optional<bool> operatorSaid, exitSaid;
    QString file = QStringLiteral("unchanged");
    auto close = [&] {
      exiting = true;
      exitSaid = dialogs().warningYesNo(nullptr, QString(), QStringLiteral("Сохранить состояние?"));
    };
    int sent = 0;
    QEventLoop loop;
    QTimer driver, rescue;
    QObject::connect(&driver, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal && operatorDone && exitSaid) loop.quit();
      if (!modal) return;
      if (sent < row.requests && (sent == 0 || ExitBoxes::raisedByExit(modal))) {
        do boxes.request(close, true);
        while (++sent < row.requests && row.atOnce);
      } else if (sent == row.requests && ExitBoxes::raisedByExit(modal)) {
        qobject_cast<QMessageBox*>(modal)->button(QMessageBox::No)->click();
      }
    });
    QObject::connect(&rescue, &QTimer::timeout, [&] {
      ADD_FAILURE() << "a box stayed open";
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
      loop.quit();
    });
    QTimer::singleShot(0, [&] {
      if (row.box == Operator::None) boxes.request(close, true), ++sent;
      if (row.box == Operator::Question)
        operatorSaid = dialogs().confirmYesNo(nullptr, QString(),
                                              QStringLiteral("Файл с именем \r/tmp/a.qz4\rуже "
                                                             "существует\rЗаписать в него?"));
      if (row.box == Operator::SaveDialog) file = dialogs().saveFile(nullptr, FileDialogRequest{});
      if (row.box == Operator::Notice)
        dialogs().information(nullptr, QString(), QStringLiteral("Не существует Файл"));
      operatorDone = true;
    });
    driver.start(5);
    rescue.start(3000);
    loop.exec();
    EXPECT_EQ(sent, row.requests);
    EXPECT_EQ(operatorSaid, row.box == Operator::Question ? std::optional(false) : std::nullopt);
    EXPECT_EQ(file, row.box == Operator::SaveDialog ? QString() : QStringLiteral("unchanged"));
    EXPECT_EQ(exitSaid, row.exitSaid);
  }
  installDialogs(std::move(scripted));
}
