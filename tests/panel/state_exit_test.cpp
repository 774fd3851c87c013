// What the panel does with the state file at exit: the drive question and the order of work.
#include <gtest/gtest.h>

#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "panel/main_form.h"
#include "platform/executable_path.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "widgets/message_form.h"
#include "support/recording_dialogs.h"
#include "shell/program_windows.h"

namespace {

class DriveQuestion : public ::testing::Test {
 protected:
  void SetUp() override { saved_ = TMainForm::driveOfPath; }
  void TearDown() override { TMainForm::driveOfPath = saved_; }
  std::function<DriveInfo(const QString&)> saved_;
};

}  // namespace

TEST_F(DriveQuestion, DecidedByTheKindOfDrive) {
  struct Case {
    DriveType type;
    QString root;
    bool answer;
    bool expected;
    QString question;  // empty: no question
  } cases[] = {
      {DriveType::Fixed, "/", false, true, ""},
      {DriveType::CdRom, "/media/cdrom/", true, false, ""},
      {DriveType::Unknown, "", true, false, ""},
      {DriveType::NoRootDir, "", true, false, ""},
      {DriveType::Removable, "/media/usb/", true, true,
       "Программа QZ418.EXE запущена со сменного диска /media/usb/\rКаталог /media/usb/qz/\r"
       "Запись состояния программы может занять несколько минут.\rСохранить состояние?"},
      {DriveType::Removable, "/media/usb/", false, false, "same"},
      {DriveType::Remote, "/mnt/share/", true, true,
       "Программа QZ418.EXE запущена с сетевого диска /mnt/share/\rКаталог /media/usb/qz/\r"
       "Запись состояния программы может занять несколько минут.\rСохранить состояние?"},
      {DriveType::RamDisk, "/tmp/", true, true,
       "Программа QZ418.EXE запущена с RAM диска /tmp/\rКаталог /media/usb/qz/\rСохранить состояние?"},
  };
  TMainForm form;
  form.saveStateOnClose = false;
  for (const auto& c : cases) {
    ScopedRecordingDialogs d;
    d->answers.push_back(c.answer);
    TMainForm::driveOfPath = [&](const QString&) { return DriveInfo{c.type, c.root}; };
    EXPECT_EQ(form.ConfirmStateSave("/media/usb/qz/qz418.ini"), c.expected) << int(c.type);
    if (c.question.isEmpty()) {
      EXPECT_TRUE(d->calls.empty()) << int(c.type);
    } else {
      ASSERT_EQ(d->calls.size(), 1u);
      EXPECT_EQ(d->calls[0].kind, "warningYesNo");
      if (c.question != "same") {
        EXPECT_EQ(d->calls[0].text, c.question);
      }
    }
  }
}

TEST_F(DriveQuestion, CloseStopsTheExchangeBeforeAskingAndEndsWithTheLastMessage) {
  std::vector<QString> order;
  TMainForm form;
  form.stopExchange = [&] { order.push_back("stop"); };
  TMainForm::driveOfPath = [&](const QString&) {
    order.push_back("drive");
    return DriveInfo{DriveType::CdRom, "/media/cdrom/"};  // nothing is written
  };
  form.show();
  form.close();
  EXPECT_EQ(order, (std::vector<QString>{"stop", "drive"}));
  const TMessageForm* message = form.messageWindow();
  ASSERT_NE(message, nullptr);
  EXPECT_TRUE(message->isVisible()) << "the message stays up until the program ends";
  EXPECT_EQ(message->windowTitle(), " ПОЖАЛУЙСТА ПОДОЖДИТЕ!!!");
  EXPECT_EQ(message->messageText(), "Конец!!!");
}

// The whole exit with the real windows: only a fixed disk or a "Да" writes the state file and
// Scenes.ini; "Нет" on a USB stick and a CD-ROM write neither.
TEST_F(DriveQuestion, ExitWritesFilesOnlyWhenTheDriveAllowsIt) {
  struct Case {
    const char* name;
    DriveType type;
    std::deque<bool> answers;
    size_t questions;
    bool written;
  } cases[] = {
      {"fixed disk", DriveType::Fixed, {}, 0, true},
      {"USB stick, Нет", DriveType::Removable, {false}, 1, false},
      {"USB stick, Да", DriveType::Removable, {true}, 1, true},
      {"network share, Нет", DriveType::Remote, {false}, 1, false},
      {"CD-ROM", DriveType::CdRom, {true}, 0, false},
  };
  QTemporaryDir dir;
  const QString state = stateFileName();  // beside this test program
  const QString scenes = dir.filePath("Scenes.ini");
  TSchemaForm::stateFile = [&] { return dir.filePath("none.ini"); };
  TSchemaForm::scenesFile = [&] { return scenes; };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    QFile::remove(state);
    QFile::remove(scenes);
    {
      // The start order of the program.
      TMainForm main;
      TRxDrawForm rx(&main);
      TSchemaForm schema(&main, &rx);
      wireWindows({&main, &rx, &schema, nullptr});
      TMainForm::driveOfPath = [&](const QString&) { return DriveInfo{c.type, "/media/x/"}; };
      ScopedRecordingDialogs d;
      d->answers = c.answers;
      main.show();
      main.close();
      EXPECT_EQ(d->calls.size(), c.questions);
      EXPECT_EQ(main.messageWindow()->messageText(), "Конец!!!");
    }
    EXPECT_EQ(QFileInfo::exists(state), c.written);
    EXPECT_EQ(QFileInfo::exists(scenes), c.written);
  }
  QFile::remove(state);
  TSchemaForm::stateFile = nullptr;
  TSchemaForm::scenesFile = nullptr;
}
