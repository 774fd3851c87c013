// Project files through the panel's buttons: the dialogs, the four sections, the caption.
#include "shell/project_files.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <memory>

#include "panel/main_form.h"
#include "persist/form_state.h"
#include "rxview/rx_draw_form.h"
#include "scenes/schema_form.h"
#include "support/recording_dialogs.h"
#include "usb/link_form.h"
#include "widgets/real_spin_edit.h"
#include "shell/program_windows.h"

namespace {

class Projects : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(dir.isValid());
    TSchemaForm::stateFile = [this] { return dir.filePath("none.ini"); };
    TSchemaForm::scenesFile = [this] { return dir.filePath("Scenes.ini"); };
    main = std::make_unique<TMainForm>();
    rx = std::make_unique<TRxDrawForm>(main.get());
    schema = std::make_unique<TSchemaForm>(main.get(), rx.get());
    link = std::make_unique<TLinkForm>(LinkPlatform{{}, {}, {}, dir.filePath("none.ini")}, main.get(), rx.get());
    wireWindows(windows());
    main->saveStateOnClose = false;
    main->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(main.get()));
    caption = main->windowTitle();
  }
  void TearDown() override {
    link.reset();
    schema.reset();
    rx.reset();
    main.reset();
    TSchemaForm::stateFile = nullptr;
    TSchemaForm::scenesFile = nullptr;
  }
  TRealSpinEdit* amplitude() const { return main->findChild<TRealSpinEdit*>("Ch2I_AmplPBSuperSpin"); }
  QByteArray read(const QString& name) const {
    QFile f(dir.filePath(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }

  QTemporaryDir dir;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TRxDrawForm> rx;
  std::unique_ptr<TSchemaForm> schema;
  std::unique_ptr<TLinkForm> link;
  QString caption;
  ProgramWindows windows() const { return {main.get(), rx.get(), schema.get(), link.get()}; }
};

}  // namespace

TEST_F(Projects, SaveWritesTheFourSectionsInOrderAndShowsThePath) {
  ScopedRecordingDialogs d;
  const QString file = dir.filePath("setup.qz4");
  d->fileNames.push_back(file);
  QTest::mouseClick(main->SaveFileSpeedButton, Qt::LeftButton);

  ASSERT_EQ(d->fileRequests.size(), 1u);
  EXPECT_EQ(d->fileRequests[0].title, "Сохранить проект в файл как...");
  EXPECT_EQ(d->fileRequests[0].defaultName, "NoName.qz4");
  EXPECT_EQ(d->fileRequests[0].defaultSuffix, "qz4");
  EXPECT_EQ(main->windowTitle(), file);
  const QByteArray bytes = read("setup.qz4");
  const qsizetype a = bytes.indexOf("[MainForm]\r\n"), b = bytes.indexOf("[RxDrawForm]\r\n"),
                  c = bytes.indexOf("[SchemaForm]\r\n"), e = bytes.indexOf("[LinkForm]\r\n");
  EXPECT_TRUE(a == 0 && b > a && c > b && e > c) << bytes.left(100).toStdString();
  EXPECT_FALSE(bytes.contains("[ScenaForm")) << "scenes are not part of a project";
  EXPECT_EQ(main->SaveDialog.initialFolder, dir.path()) << "the next dialog starts where this one ended";
}

TEST_F(Projects, OverwriteAskedAndNoLeavesFileAndCaption) {
  {
    QFile f(dir.filePath("old.qz4"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[Other]\r\nKey=1\r\n");
  }
  ScopedRecordingDialogs d;
  d->fileNames.push_back(dir.filePath("old.qz4"));
  d->answers.push_back(false);
  QTest::mouseClick(main->SaveFileSpeedButton, Qt::LeftButton);
  ASSERT_EQ(d->calls.size(), 2u);
  EXPECT_EQ(d->calls[1].kind, "confirmYesNo");
  EXPECT_EQ(d->calls[1].text,
            "Файл с именем \r" + dir.filePath("old.qz4") + "\rуже существует\rЗаписать в него?");
  EXPECT_EQ(read("old.qz4"), QByteArray("[Other]\r\nKey=1\r\n"));
  EXPECT_EQ(main->windowTitle(), caption);

  // Yes keeps the foreign section and adds the four.
  d->fileNames.push_back(dir.filePath("old.qz4"));
  d->answers.push_back(true);
  QTest::mouseClick(main->SaveFileSpeedButton, Qt::LeftButton);
  EXPECT_TRUE(read("old.qz4").startsWith("[Other]\r\nKey=1\r\n[MainForm]\r\n"));
}

TEST_F(Projects, OpenLoadsTheSettingsAndAMissingFileChangesNothing) {
  ScopedRecordingDialogs d;
  ASSERT_TRUE(SaveAllForms(dir.filePath("p.qz4"), windows().list()));
  amplitude()->setValue(-33);
  rx->show();  // saved hidden: loading hides it again

  d->fileNames.push_back(dir.filePath("missing.qz4"));
  QTest::mouseClick(main->OpenFileSpeedButton, Qt::LeftButton);
  ASSERT_EQ(d->calls.size(), 2u);
  EXPECT_EQ(d->calls[1].kind, "information");
  EXPECT_EQ(d->calls[1].text, "Не существует Файл \r" + dir.filePath("missing.qz4"));
  EXPECT_EQ(amplitude()->value(), -33);
  EXPECT_EQ(main->windowTitle(), caption);

  d->fileNames.push_back(dir.filePath("p.qz4"));
  QTest::mouseClick(main->OpenFileSpeedButton, Qt::LeftButton);
  EXPECT_EQ(d->fileRequests.back().title, "Загрузить проект из файла");
  EXPECT_NE(amplitude()->value(), -33);
  EXPECT_FALSE(rx->isVisible());
  EXPECT_EQ(main->windowTitle(), dir.filePath("p.qz4"));
}

TEST_F(Projects, CancelledDialogsDoNothing) {
  ScopedRecordingDialogs d;
  QTest::mouseClick(main->SaveFileSpeedButton, Qt::LeftButton);
  QTest::mouseClick(main->OpenFileSpeedButton, Qt::LeftButton);
  EXPECT_EQ(d->calls.size(), 2u);
  EXPECT_EQ(main->windowTitle(), caption);
  EXPECT_TRUE(QDir(dir.path()).entryList({"*.qz4"}).isEmpty());
}

TEST_F(Projects, OneWriteForAllWindowsGivesTheSameFileAsOneWritePerWindow) {
  ScopedRecordingDialogs d;
  {
    QFile f(dir.filePath("a.qz4"));
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("[LinkForm]\r\nOld=1\r\n[Other]\r\nKey=1\r\n");
  }
  QFile::copy(dir.filePath("a.qz4"), dir.filePath("b.qz4"));
  ASSERT_TRUE(SaveAllForms(dir.filePath("a.qz4"), windows().list()));
  for (QWidget* w : windows().list()) ASSERT_TRUE(SaveFormState(dir.filePath("b.qz4"), w));
  EXPECT_EQ(read("a.qz4"), read("b.qz4"));
  EXPECT_FALSE(read("a.qz4").contains("Old=1")) << "a window's section is rewritten whole";
  EXPECT_TRUE(d->calls.empty());
}
