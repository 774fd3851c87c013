// What the program's start-up set-up gives the window system: titles that are exactly the
// program's texts (as the window manager reads them), and Qt's own texts in Russian.
#include <gtest/gtest.h>

#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QTest>

#include "panel/main_form.h"
#include "widgets/message_form.h"
#include "shell/startup.h"

namespace {

// The title the window manager shows, as an X client reads it.
QString netWmName(const QWidget& w) {
  QProcess xprop;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
  xprop.setProcessEnvironment(env);
  xprop.start(QStringLiteral("xprop"), {QStringLiteral("-id"), QString::number(w.winId()),
                                        QStringLiteral("-notype"), QStringLiteral("_NET_WM_NAME")});
  if (!xprop.waitForFinished(5000)) return QStringLiteral("<xprop failed>");
  const QString out = QString::fromUtf8(xprop.readAllStandardOutput()).trimmed();
  const qsizetype q = out.indexOf(u'"');
  return q < 0 ? out : out.mid(q + 1).chopped(1);
}

}  // namespace

TEST(ApplicationSetup, TitlesAreThePrograms) {
  setUpApplication();
  TMainForm panel;
  TMessageForm* MessageForm = panel.messageWindow();
  panel.saveStateOnClose = false;
  panel.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&panel));
  ASSERT_NE(MessageForm, nullptr);
  MessageForm->setWindowTitle(QStringLiteral(" ПОЖАЛУЙСТА ПОДОЖДИТЕ!!!"));
  MessageForm->showAndExpose();
  QWidget project;  // a project's caption is the file's name
  project.setWindowTitle(QStringLiteral("/home/op/NoName.qz4"));
  project.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&project));
  QTest::qWait(50);

  EXPECT_EQ(netWmName(panel), QStringLiteral("Синтезатор сигналов QZ418 версия C"));
  EXPECT_EQ(netWmName(*MessageForm), QStringLiteral(" ПОЖАЛУЙСТА ПОДОЖДИТЕ!!!"));
  EXPECT_EQ(netWmName(project), QStringLiteral("/home/op/NoName.qz4"));
  MessageForm->hide();
}

TEST(ApplicationSetup, QtsOwnButtonsAndFileDialogsAreRussian) {
  setUpApplication();
  QMessageBox box(QMessageBox::Warning, QString(), QStringLiteral("Сохранить состояние?"),
                  QMessageBox::Yes | QMessageBox::No);
  EXPECT_EQ(box.button(QMessageBox::Yes)->text().remove(u'&'), QStringLiteral("Да"));
  EXPECT_EQ(box.button(QMessageBox::No)->text().remove(u'&'), QStringLiteral("Нет"));

  QFileDialog dialog(nullptr, QString(), QString(), QStringLiteral("*.qz4"));
  dialog.setOption(QFileDialog::DontUseNativeDialog);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  const QLabel* lookIn = dialog.findChild<QLabel*>(QStringLiteral("lookInLabel"));
  const QLabel* fileName = dialog.findChild<QLabel*>(QStringLiteral("fileNameLabel"));
  const auto* buttons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
  ASSERT_TRUE(lookIn && fileName && buttons);
  QStringList texts{lookIn->text(), fileName->text()};
  for (const QAbstractButton* b : buttons->buttons()) texts << b->text();
  EXPECT_EQ(texts.join(u'|').remove(u'&'), QStringLiteral("Перейти к:|Имя файла:|Сохранить|Отмена"));
}
