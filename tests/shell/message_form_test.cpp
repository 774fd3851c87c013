#include "shell/message_form.h"

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

  // A long text must not be clipped by the label's first size.
  const QString longText = "Чтение состояния из файла /a/very/long/path/to/the/state/file/qz418.ini";
  form.ShowMessageText(longText);
  EXPECT_GE(form.MessageLabel->width(), form.MessageLabel->sizeHint().width());
}
