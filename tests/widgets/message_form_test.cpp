#include "widgets/message_form.h"

#include <gtest/gtest.h>

#include <QTest>

TEST(MessageForm, TextSetWhileHiddenIsShownNextTime) {
  QWidget owner;
  TMessageForm form(&owner);
  EXPECT_EQ(form.messageText(), "Сообщение");
  EXPECT_EQ(form.size(), QSize(342, 47));
  EXPECT_TRUE(form.windowFlags() & Qt::WindowStaysOnTopHint);

  form.ShowMessageText("Готово!!!");  // written while hidden
  form.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&form));
  EXPECT_EQ(form.MessageLabel->text(), "Готово!!!");
  EXPECT_TRUE(form.MessageLabel->isVisible());

  // A long path loses its middle: the start of the text and the file name stay readable, and
  // nothing is drawn past the window's edge.
  const QString path =
      "Чтение состояния из файла /home/operator/very/long/folder/name/of/the/portable/"
      "copy/of/the/program/qz418.ini";
  form.ShowMessageText(path);
  const QString shown = form.MessageLabel->text();
  EXPECT_EQ(form.messageText(), path);
  EXPECT_TRUE(shown.startsWith("Чтение состояния")) << shown.toStdString();
  EXPECT_TRUE(shown.endsWith("qz418.ini")) << shown.toStdString();
  EXPECT_TRUE(shown.contains(QChar(0x2026)));
  EXPECT_LE(form.MessageLabel->fontMetrics().horizontalAdvance(shown), form.MessageLabel->width());
  EXPECT_LE(form.MessageLabel->geometry().right(), form.width() - 1);
}
