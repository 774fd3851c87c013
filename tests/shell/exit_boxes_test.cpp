// Termination requests against the real Qt boxes: the operator's own box is closed with the
// answer that changes nothing, the exit's box is answered Yes only once the exit is asked for
// again, and a single request leaves the exit's question to the operator.
#include "shell/exit_boxes.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <functional>
#include <optional>

#include "widgets/dialogs.h"

namespace {

TEST(ExitBoxes, TheExitAnswersOnlyItsOwnBoxes) {
  enum class Operator { None, Question, SaveDialog, Notice };
  struct Row {
    const char* name;
    Operator box;   // what the operator's action has open when the first request comes
    int requests;   // the first while the operator's box is open, the others while the exit's is
    bool atOnce;    // all of them read together (two signals in one go)
    bool exitSaid;  // what the exit's question ends with ("Сохранить состояние?")
  };
  const Row rows[] = {
      {"TERM, then INT while the exit asks", Operator::Question, 2, false, true},
      {"two signals at once", Operator::Question, 2, true, true},
      {"one signal: the exit's question is the operator's", Operator::Question, 1, false, false},
      {"the operator's save dialog", Operator::SaveDialog, 2, false, true},
      {"the operator's notice", Operator::Notice, 2, false, true},
      {"no box of the operator's", Operator::None, 2, false, true},
  };
  std::unique_ptr<Dialogs> old = installDialogs(nullptr);
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    bool exiting = false;
    ExitBoxes boxes([&] { return exiting; });
    std::optional<bool> operatorSaid, exitSaid;
    std::optional<QString> operatorFile;
    bool operatorDone = row.box == Operator::None;
    auto close = [&] {
      exiting = true;
      exitSaid = dialogs().warningYesNo(nullptr, QString(), QStringLiteral("Сохранить состояние?"));
    };
    int sent = 0, rescued = 0;
    QEventLoop loop;
    QTimer driver;
    driver.setInterval(5);
    QObject::connect(&driver, &QTimer::timeout, [&] {
      QWidget* modal = QApplication::activeModalWidget();
      if (!modal) {
        if (operatorDone && exitSaid) loop.quit();
        return;
      }
      if (sent < row.requests && (sent == 0 || ExitBoxes::raisedByExit(modal))) {
        do boxes.request(close, true);
        while (++sent < row.requests && row.atOnce);
      } else if (sent == row.requests && ExitBoxes::raisedByExit(modal)) {
        // The operator answers the exit's question.
        if (auto* box = qobject_cast<QMessageBox*>(modal)) box->button(QMessageBox::No)->click();
      }
    });
    QTimer rescue;
    rescue.setInterval(3000);
    QObject::connect(&rescue, &QTimer::timeout, [&] {
      ++rescued;
      if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) d->reject();
      loop.quit();
    });
    QTimer::singleShot(0, [&] {
      switch (row.box) {
        case Operator::None:
          boxes.request(close, true);
          ++sent;
          return;
        case Operator::Question:
          operatorSaid = dialogs().confirmYesNo(
              nullptr, QString(),
              QStringLiteral("Файл с именем \r/tmp/a.qz4\rуже существует\rЗаписать в него?"));
          break;
        case Operator::SaveDialog:
          operatorFile = dialogs().saveFile(
              nullptr,
              FileDialogRequest{QStringLiteral("Сохранить проект в файл как..."), QStringLiteral("*.qz4"),
                                QStringLiteral("NoName.qz4"), QStringLiteral("qz4"), QString()});
          break;
        case Operator::Notice:
          dialogs().information(nullptr, QString(), QStringLiteral("Не существует Файл \r/tmp/b.qz4"));
          break;
      }
      operatorDone = true;
    });
    driver.start();
    rescue.start();
    loop.exec();
    EXPECT_EQ(rescued, 0) << "a box stayed open";
    EXPECT_EQ(sent, row.requests);
    if (row.box == Operator::Question) {
      EXPECT_EQ(operatorSaid, false) << "the exit answered the operator's question";
    }
    if (row.box == Operator::SaveDialog) {
      EXPECT_EQ(operatorFile, QString());
    }
    EXPECT_TRUE(operatorDone);
    EXPECT_EQ(exitSaid, row.exitSaid);
  }
  installDialogs(std::move(old));
}

}  // namespace
