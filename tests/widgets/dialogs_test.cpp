// The Qt implementation of the dialogs, driven through the real boxes and file dialogs.

#include "widgets/dialogs.h"

#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

namespace {

// Runs `show` (which opens a modal dialog) and hands the dialog to `drive` once it is up.
// Whatever is still open after a few seconds (a dialog that refused to close, a box of its
// own) is rejected, so a faulty dialog fails the test instead of hanging it.
void withModal(const std::function<void()>& show, const std::function<void(QWidget*)>& drive) {
  bool driven = false;
  QTimer poll;
  poll.setInterval(10);
  QObject::connect(&poll, &QTimer::timeout, [&] {
    QWidget* modal = QApplication::activeModalWidget();
    if (!modal || driven) return;
    driven = true;
    drive(modal);
  });
  int rejected = 0;
  QTimer rescue;
  rescue.setInterval(3000);
  QObject::connect(&rescue, &QTimer::timeout, [&] {
    rescue.setInterval(50);
    if (auto* d = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
      ++rejected;
      d->reject();
    }
  });
  poll.start();
  rescue.start();
  show();
  EXPECT_TRUE(driven);
  EXPECT_EQ(rejected, 0) << "a dialog stayed open";
}

TEST(QtDialogs, BoxesWithoutCaptionShowTheProgramName) {
  installDialogs(nullptr);
  struct Case {
    const char* name;
    std::function<void(const QString&)> call;
  };
  const Case cases[] = {
      {"information", [](const QString& c) { dialogs().information(nullptr, c, "text"); }},
      {"warning", [](const QString& c) { dialogs().warning(nullptr, c, "text"); }},
      {"warningYesNo", [](const QString& c) { dialogs().warningYesNo(nullptr, c, "text"); }},
      {"confirmYesNo", [](const QString& c) { dialogs().confirmYesNo(nullptr, c, "text"); }},
      {"informationYesNo", [](const QString& c) { dialogs().informationYesNo(nullptr, c, "text"); }},
  };
  for (const Case& c : cases) {
    for (const QString& caption : {QString(), QStringLiteral("Invalid Entry")}) {
      QString shown;
      withModal([&] { c.call(caption); },
                [&](QWidget* w) {
                  shown = w->windowTitle();
                  auto* box = qobject_cast<QMessageBox*>(w);
                  ASSERT_NE(box, nullptr);
                  box->button(box->button(QMessageBox::No) ? QMessageBox::No : QMessageBox::Ok)->click();
                });
      EXPECT_EQ(shown, caption.isEmpty() ? QStringLiteral("QZ418") : caption) << c.name;
    }
  }
}

TEST(QtDialogs, FileDialogsReturnTheTypedNameWhetherOrNotItExists) {
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  installDialogs(nullptr);
  QTemporaryDir dir;
  ASSERT_TRUE(dir.isValid());
  {
    QFile f(dir.filePath("old.qzc"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  }
  struct Case {
    bool open;
    const char* typed;
    const char* returned;  // in the folder
  };
  const Case cases[] = {
      {true, "missing.qzc", "missing.qzc"},
      {true, "old.qzc", "old.qzc"},
      {false, "missing.qzc", "missing.qzc"},
      {false, "old.qzc", "old.qzc"},  // the program asks about overwriting itself
  };
  for (const Case& c : cases) {
    FileDialogRequest r;
    r.title = QStringLiteral("Загрузить сценарий из файла ...");
    r.filter = QStringLiteral("*.qzc;;*.*");
    r.defaultName = QStringLiteral("NoNameScenes.qzc");
    r.defaultSuffix = QStringLiteral("qzc");
    r.initialFolder = dir.path();
    QString chosen;
    withModal([&] { chosen = c.open ? dialogs().openFile(nullptr, r) : dialogs().saveFile(nullptr, r); },
              [&](QWidget* w) {
                ASSERT_NE(qobject_cast<QFileDialog*>(w), nullptr);
                EXPECT_EQ(w->windowTitle(), r.title);
                auto* name = w->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
                ASSERT_NE(name, nullptr);
                name->setText(QString::fromUtf8(c.typed));
                QTest::keyClick(name, Qt::Key_Return);
              });
    EXPECT_EQ(QDir::cleanPath(chosen), QDir::cleanPath(dir.filePath(c.returned)))
        << (c.open ? "open " : "save ") << c.typed;
  }
}

}  // namespace
