// The USB events window with fake devices: the log it writes for each event, the link state it
// gives the control panel, and that stopping always comes back.
#include "usb/link_form.h"

#include "panel/main_form.h"
#include "usb_fakes.h"
#include "widgets/radio_group.h"
#include "widgets/status_bar.h"
#include "shell/program_windows.h"

#include <QLabel>
#include <QPlainTextEdit>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <gtest/gtest.h>

#include <cerrno>

namespace {

const QString kNoLink = QStringLiteral("нет связи c QZ418!!!");

class LinkWindow : public ::testing::Test {
 protected:
  void SetUp() override {
    main = std::make_unique<TMainForm>();
    main->saveStateOnClose = false;
  }
  void TearDown() override {
    form.reset();
    main.reset();
  }

  void create() {
    LinkPlatform p;
    p.makeEnumerator = [this] { return std::make_unique<fake::Enumerator>(devices, notes); };
    p.openTransport = [this](const QString& path, int* error) -> std::unique_ptr<DeviceTransport> {
      opened << path;
      if (openErrno) {
        *error = openErrno;
        return nullptr;
      }
      return std::make_unique<fake::Transport>(script);
    };
    p.makeChangeMonitor = [this](QObject*) {
      auto m = std::make_unique<DeviceChangeMonitor>();
      monitor = m.get();
      return m;
    };
    p.stateFile = dir.filePath(QStringLiteral("state.ini"));
    form = std::make_unique<TLinkForm>(std::move(p), main.get());
    wireWindows({main.get(), nullptr, nullptr, form.get()});
  }
  void plug(const QStringList& locations) {
    devices->clear();
    for (const QString& l : locations) devices->push_back(fake::synthesizer(l));
  }
  // The log lines written since the last call.
  QStringList newLines() {
    const QStringList all = form->logLines();
    const QStringList fresh = all.mid(seen);
    seen = int(all.size());
    return fresh;
  }
  QString linkStatus() const { return main->FooterStatusBar->panelText(0); }
  bool running() const {
    TUSB_Thread* t = form->currentThread();
    return t && t->wasStarted() && !t->isFinished() && !t->isSuspended();
  }

  QTemporaryDir dir;
  std::unique_ptr<TMainForm> main;
  std::unique_ptr<TLinkForm> form;
  std::shared_ptr<std::vector<DeviceRecord>> devices = std::make_shared<std::vector<DeviceRecord>>();
  std::shared_ptr<QStringList> notes = std::make_shared<QStringList>();
  std::shared_ptr<fake::Script> script = std::make_shared<fake::Script>();
  DeviceChangeMonitor* monitor = nullptr;
  QStringList opened;
  int openErrno = 0;
  int seen = 0;
};

TEST_F(LinkWindow, CreationLogsTheListingAndReportsTheLink) {
  struct Row {
    const char* name;
    QStringList devices;
    int openErrno;
    QStringList log;
    QString status;
    bool running;
    QStringList notes = {};
  };
  const QString hintStart = QStringLiteral("Нет прав доступа к устройству USB");
  const Row rows[] = {
      {"nothing attached",
       {},
       0,
       {"001   ", "002  ", "003  Подключено 0 синтезаторов", "004  "},
       kNoLink,
       false},
      {"one synthesizer",
       {"1-1"},
       0,
       {"001   ", "002  String=  QZ418 synthesizer  1-1", "003  ", "004  Подключено 1 синтезаторов", "005  ",
        "006  Старт потока данных USB!"},
       QStringLiteral("Подключен 1-1"),
       true},
      {"cannot be opened",
       {"1-1"},
       ENODEV,
       {"001   ", "002  String=  QZ418 synthesizer  1-1", "003  ", "004  Подключено 1 синтезаторов", "005  ",
        "006  Неправильный Handle!"},
       kNoLink,
       false},
      {"no permission",
       {"1-1"},
       EACCES,
       {"001   ", "002  String=  QZ418 synthesizer  1-1", "003  ", "004  Подключено 1 синтезаторов", "005  ",
#ifdef _WIN32
        "006  Неправильный Handle!"},  // 13 is another error there: no udev hint
#else
        "006  Неправильный Handle!", "hint"},
#endif
       kNoLink,
       false},
      // One numbered line says which folder was refused and why, only then.
      {"virtual-device folder refused",
       {},
       0,
       {"001   ", "002  Папка /run/user/7/qz418 отклонена: это символьная ссылка", "003  ",
        "004  Подключено 0 синтезаторов", "005  "},
       kNoLink,
       false,
       {"Папка /run/user/7/qz418 отклонена: это символьная ссылка"}},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    plug(row.devices);
    *notes = row.notes;
    openErrno = row.openErrno;
    main->ShowStatusReport({}, 0);
    create();
    QStringList log = form->logLines();
    if (row.log.back() == "hint") {
      ASSERT_EQ(log.size(), row.log.size());
      EXPECT_TRUE(log.back().startsWith(hintStart)) << log.back().toStdString();
      EXPECT_TRUE(log.back().contains(QStringLiteral("packaging/60-qz418.rules")));
      EXPECT_TRUE(log.back().contains(QStringLiteral("docs/user-guide.md#connecting-a-real-synthesizer")))
          << "the section of the guide that explains the rule";
      log.removeLast();
      EXPECT_EQ(log, row.log.mid(0, row.log.size() - 1));
      EXPECT_EQ(form->logCounter(), 6u) << "the hint is not numbered";
    } else {
      EXPECT_EQ(log, row.log);
    }
    // Connected only once a cycle has gone through.
    EXPECT_EQ(linkStatus(), kNoLink);
    EXPECT_EQ(main->S1Label->text() == QStringLiteral("???"), row.devices.isEmpty()) << "ClearStatusDisplay";
    EXPECT_EQ(running(), row.running);
    EXPECT_EQ(form->UDCountRadioGroup->itemIndex(), row.devices.isEmpty() ? -1 : 0);
    if (row.running) {
      EXPECT_EQ(opened, QStringList{devices->front().devicePath});
      EXPECT_EQ(form->currentThread()->waitTime(), 400u);
      // The hand-overs reach the panel: the first status is shown, nothing is "???".
      ASSERT_TRUE(fake::runUntil([&] { return script->transfers[0x04] >= 2; }));
    }
    fake::runFor(20);
    EXPECT_EQ(linkStatus(), row.status);
    EXPECT_EQ(form->linkUp(), row.running);
    form.reset();
    opened.clear();
  }
}

// Each device-change notification stops the exchange, lists again and restarts on the first
// synthesizer, whatever changed; the log shows every step.
TEST_F(LinkWindow, DeviceChangeNotifications) {
  struct Step {
    const char* name;
    QStringList devices;
    QStringList log;
    QString status;
    bool running;
  };
  const Step steps[] = {
      {"a synthesizer is plugged in",
       {"1-1"},
       {"005  USB событие DBT_DEVNODES_CHANGED", "006  Не было потока данных!",
        "007  String=  QZ418 synthesizer  1-1", "008  ", "009  Подключено 1 синтезаторов", "010  ",
        "011  Старт потока данных USB!"},
       QStringLiteral("Подключен 1-1"),
       true},
      {"some other device changes",
       {"1-1"},
       {"012  USB событие DBT_DEVNODES_CHANGED", "013  Поток USB УЖЕ работает!",
        "014  Поток данных USB разрушен!", "015  String=  QZ418 synthesizer  1-1", "016  ",
        "017  Подключено 1 синтезаторов", "018  ", "019  Поток данных USB разрушен!",
        "020  Старт потока данных USB!"},
       QStringLiteral("Подключен 1-1"),
       true},
      {"unplugged",
       {},
       {"021  USB событие DBT_DEVNODES_CHANGED", "022  Поток USB УЖЕ работает!",
        "023  Поток данных USB разрушен!", "024  ", "025  Подключено 0 синтезаторов", "026  "},
       kNoLink,
       false},
      // The ended thread is still the current one: it "works", and its handle is cancelled again.
      {"plugged in again, with a second one",
       {"1-2", "1-1"},
       {"027  USB событие DBT_DEVNODES_CHANGED", "028  Поток USB УЖЕ работает!",
        "029  Поток данных USB разрушен!", "030  String=  QZ418 synthesizer  1-2",
        "031  String=  QZ418 synthesizer  1-1", "032  ", "033  Подключено 2 синтезаторов", "034  ",
        "035  Поток данных USB разрушен!", "036  Старт потока данных USB!"},
       QStringLiteral("Подключен 1-2"),
       true},
  };
  create();
  newLines();
  for (const Step& step : steps) {
    SCOPED_TRACE(step.name);
    plug(step.devices);
    const std::uint64_t before = form->linkId();
    form->WMDeviceChange(TLinkForm::DBT_DEVNODES_CHANGED);
    EXPECT_EQ(newLines(), step.log);
    EXPECT_EQ(linkStatus(), kNoLink) << "connected before a cycle has gone through";
    EXPECT_EQ(form->linkId(), 0u);
    if (step.running) {
      ASSERT_TRUE(fake::runUntil([&] { return form->linkUp(); }));
      EXPECT_NE(form->linkId(), before) << "a new link is told apart from the one before";
    }
    EXPECT_EQ(linkStatus(), step.status);
    if (step.devices.isEmpty()) {
      EXPECT_EQ(main->S1Label->text(), QStringLiteral("???")) << "ClearStatusDisplay";
    }
    EXPECT_EQ(running(), step.running);
    if (step.running) {
      EXPECT_EQ(opened.back(), devices->front().devicePath) << "the exchange runs on the first listed";
      EXPECT_EQ(form->currentDevicePath(), devices->front().devicePath);
    }
    fake::runFor(30);
  }
  // Other event codes only leave an unnumbered line.
  form->WMDeviceChange(0x8004);
  EXPECT_EQ(newLines(), QStringList{"другое событие 00008004h"});
  EXPECT_EQ(form->logCounter(), 36u);
}

TEST_F(LinkWindow, PauseAndResume) {
  plug({"1-1"});
  create();
  newLines();
  fake::runFor(50);
  form->PauseExchange();
  form->BitBtn2Click();  // "Остановить" does the same
  fake::runFor(30);      // the thread reaches its next step boundary
  const int transfers = script->transfers[0x86] + script->transfers[0x82] + script->transfers[0x04];
  fake::runFor(120);
  EXPECT_EQ(script->transfers[0x86] + script->transfers[0x82] + script->transfers[0x04], transfers)
      << "ran on paused";
  form->ResumeExchange();
  form->BitBtn1Click();
  EXPECT_EQ(newLines(),
            QStringList({"007  Поток данных USB остановлен!", "008  Поток USB УЖЕ остановлен!",
                         "009  Продолжение работы потока данных USB!", "010  Поток USB УЖЕ работает!"}));
  EXPECT_TRUE(fake::runUntil([&] { return script->transfers[0x04] > transfers; }));

  // A notification while paused lets the thread go on so that it can end.
  form->PauseExchange();
  form->WMDeviceChange(TLinkForm::DBT_DEVNODES_CHANGED);
  const QStringList lines = newLines();
  ASSERT_GE(lines.size(), 4);
  EXPECT_EQ(lines[2], "013  Продолжение работы потока данных USB!");
  EXPECT_EQ(lines[3], "014  Поток данных USB разрушен!");
  EXPECT_TRUE(running());
}

TEST_F(LinkWindow, LogNumberingAndClearing) {
  create();  // lines 001-004
  EXPECT_EQ(form->logLines().first(), "001   ") << "two blanks and the single-blank text";
  form->ClearMemoBitBtnClick();
  EXPECT_TRUE(form->logLines().isEmpty());
  form->AddLogLine(QStringLiteral("a"));
  EXPECT_EQ(form->logLines(), QStringList{"005  a"}) << "clearing the box keeps the numbering";
  for (int i = 6; i <= 501; ++i) form->AddLogLine(QString());
  EXPECT_EQ(form->logLines().size(), 497);
  EXPECT_EQ(form->logLines().back(), "501  ");
  form->AddLogLine(QStringLiteral("b"));
  EXPECT_EQ(form->logLines(), QStringList({" Очистка сообщений", "001  b"}));
}

TEST_F(LinkWindow, PropertiesFollowTheSelectionNotTheExchange) {
  plug({"1-1", "1-2", "1-3", "1-4", "1-5", "1-6", "1-7"});
  create();
  EXPECT_EQ(opened, QStringList{devices->front().devicePath});
  struct Row {
    int selected;
    QString firstLine;
  };
  for (const Row& row : {Row{1, QStringLiteral("УСТРОЙСТВО    - 1 ") + QString(53, u'*')},
                         Row{6, QStringLiteral("Неправильный индекс устройства !!!")}}) {
    form->UDCountRadioGroup->setItemIndex(row.selected);
    newLines();
    form->SpeedButton1Click();
    const QStringList lines = newLines();
    EXPECT_EQ(lines.first(), row.firstLine);
    if (row.selected < 6) {
      EXPECT_EQ(lines[2], "DevPath      " + (*devices)[std::size_t(row.selected)].devicePath);
    }
  }
  EXPECT_EQ(opened.size(), 1) << "selecting restarts nothing";
  ASSERT_TRUE(fake::runUntil([&] { return form->linkUp(); }));
  EXPECT_EQ(linkStatus(), QStringLiteral("Подключен 1-1"));
}

// A burst of notifications is answered once, after the burst, and leaves a running exchange.
TEST_F(LinkWindow, BurstOfNotifications) {
  plug({"1-1"});
  create();
  ASSERT_NE(monitor, nullptr);
  for (int i = 0; i < 100; ++i) emit monitor->devicesChanged();
  EXPECT_FALSE(form->logLines().join(u'\n').contains(QStringLiteral("USB событие")))
      << "not inside the emitter";
  fake::runFor(100);
  EXPECT_EQ(form->logLines().filter(QStringLiteral("USB событие DBT_DEVNODES_CHANGED")).size(), 1);
  EXPECT_TRUE(running());
  EXPECT_EQ(opened.size(), 2);
}

// Stops at any moment of the cycle, paused or not, with a slow device, come back promptly.
TEST_F(LinkWindow, StoppingAlwaysReturns) {
  script->answer = [](std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t, int index) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1 + index % 4));
    return 0;
  };
  plug({"1-1"});
  create();
  auto* rng = QRandomGenerator::global();
  for (int i = 0; i < 30; ++i) {
    fake::runFor(int(rng->bounded(25)));
    if (rng->bounded(3) == 0) form->PauseExchange();
    TUSB_Thread* thread = form->currentThread();
    const std::uint64_t begun = thread->cyclesStarted();
    QElapsedTimer t;
    t.start();
    form->StopExchange();
    // The cycle under way ends and no other begins. The bound only tells a hang from a busy
    // machine: a cycle here lasts a few tens of milliseconds.
    EXPECT_LE(thread->cyclesStarted(), begun + 1) << "cycles after the stop";
    EXPECT_LT(t.elapsed(), 5000);
    EXPECT_TRUE(thread->isFinished());
    EXPECT_EQ(form->logLines().back().mid(5), QStringLiteral("Поток данных USB разрушен!"));
    EXPECT_EQ(linkStatus(), kNoLink);
    form->CreateThreadButtonClick();
    EXPECT_TRUE(running());
  }
  // The panel's close stops the exchange through the window.
  ASSERT_TRUE(main->stopExchange);
  main->stopExchange();
  EXPECT_TRUE(form->currentThread()->isFinished());
}

// A device whose connection closed (it hung up, sent garbage, or was killed) counts as removed:
// the link restarts as on a device change and takes the device again only if it is still
// listed. A device that only times out keeps its connection.
TEST_F(LinkWindow, ClosedConnectionRestartsTheLinkAsOnADeviceChange) {
  struct Row {
    const char* name;
    int closing;    // connections that close on their first command packet
    bool listed;    // still listed after it closed (alive) or not (killed)
    int timeoutMs;  // answers after the wait ran out (110) instead
    int restarts;
    QString status;
  };
  const Row rows[] = {
      {"one glitch", 1, true, 0, 1, QStringLiteral("Подключен 1-1")},
      {"killed", 1, false, 0, 1, kNoLink},
      // Never a cycle through: never connected, though the exchange runs on.
      {"only timed out", 0, true, 110, 0, kNoLink},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    script = std::make_shared<fake::Script>();
    if (row.timeoutMs)
      script->answer = [](std::uint8_t, std::uint8_t*, std::uint32_t, std::uint32_t, int) { return 110; };
    plug({"1-1"});
    create();
    newLines();
    if (!row.listed) plug({});  // its socket stays, but refuses: the listing leaves it out
    ASSERT_TRUE(fake::runUntil([&] { return script->transfers[0x04] >= 2; }));
    fake::runFor(10);
    EXPECT_EQ(form->linkUp(), row.timeoutMs == 0);
    script->connectionsToClose = row.closing;
    if (row.closing) {
      // Down as soon as the connection is seen closed, before the restart.
      ASSERT_TRUE(fake::runUntil([&] { return !form->linkUp(); }));
      EXPECT_EQ(linkStatus(), kNoLink);
    }
    fake::runFor(1600);
    const QStringList lines = newLines();
    EXPECT_EQ(lines.filter(QStringLiteral("USB событие DBT_DEVNODES_CHANGED")).size(), row.restarts)
        << lines.join(u'\n').toStdString();
    if (row.restarts) {
      EXPECT_EQ(lines.mid(0, 3),
                QStringList({"007  USB событие DBT_DEVNODES_CHANGED", "008  Поток USB УЖЕ работает!",
                             "009  Поток данных USB разрушен!"}));
    }
    EXPECT_EQ(linkStatus(), row.status);
    EXPECT_EQ(running(), row.listed);
    EXPECT_EQ(opened.size(), row.restarts && row.listed ? 2 : 1);
    if (!row.listed) {
      EXPECT_EQ(main->S1Label->text(), QStringLiteral("???")) << "ClearStatusDisplay";
      plug({"1-1"});  // the device is back
      emit monitor->devicesChanged();
      ASSERT_TRUE(fake::runUntil([&] { return form->linkUp(); }));
      EXPECT_EQ(linkStatus(), QStringLiteral("Подключен 1-1"));
    }
    form.reset();
    opened.clear();
    seen = 0;
  }
}

// A device that accepts every connection and closes it at once is tried again at most once a
// second (unchecked, it would be every stop: about twice a second here).
TEST_F(LinkWindow, DeviceThatKeepsClosingIsRetriedAtMostOnceASecond) {
  script->connectionsToClose = 1000;
  plug({"1-1"});
  QElapsedTimer t;
  t.start();
  create();
  fake::runFor(4000);
  const qint64 elapsed = t.elapsed();
  const auto restarts = form->logLines().filter(QStringLiteral("USB событие DBT_DEVNODES_CHANGED")).size();
  EXPECT_GE(restarts, 2);
  // The first retry is at once, each further one a second after the one before.
  EXPECT_LE(restarts, elapsed / 1000 + 1) << "in " << elapsed << " ms";
  // Listed all along, but no packet ever went through: never connected.
  EXPECT_EQ(linkStatus(), kNoLink);
  EXPECT_FALSE(form->linkUp());
}

// Once the exit has stopped the exchange, nothing starts it again: not a change queued before
// the stop, not one after it, not a connection that closes.
TEST_F(LinkWindow, ExitStopsTheLinkForGood) {
  plug({"1-1", "1-2"});
  create();
  ASSERT_TRUE(fake::runUntil([&] { return script->transfers[0x04] >= 2; }));
  script->connectionsToClose = 1;  // the packet under way when the exit comes closes the device
  emit monitor->devicesChanged();  // queued, not yet handled
  ASSERT_TRUE(main->stopExchange);
  main->stopExchange();
  ASSERT_TRUE(form->currentThread()->isFinished());
  const int packets = script->transfers[0x04];
  newLines();
  emit monitor->devicesChanged();
  form->WMDeviceChange(TLinkForm::DBT_DEVNODES_CHANGED);
  fake::runFor(1200);
  EXPECT_TRUE(form->exiting());
  EXPECT_EQ(newLines(), QStringList());
  EXPECT_EQ(opened.size(), 1);
  EXPECT_EQ(script->transfers[0x04], packets) << "a packet after the exit's stop";
  EXPECT_TRUE(form->currentThread()->isFinished());
  EXPECT_EQ(linkStatus(), kNoLink);
}

TEST_F(LinkWindow, StateFileGivesPlaceAndVisibilityNotTheSelection) {
  QFile f(dir.filePath(QStringLiteral("state.ini")));
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write("[LinkForm]\r\nTop=120\r\nLeft=40\r\nUDCountRadioGroup=1\r\nWisible=1\r\n");
  f.close();
  plug({"1-1", "1-2"});
  create();
  EXPECT_TRUE(form->isVisible());
  EXPECT_EQ(form->frameGeometry().topLeft(), QPoint(40, 120));
  EXPECT_EQ(form->UDCountRadioGroup->itemIndex(), 0);
  EXPECT_EQ(form->logLines().first(), "001   ");
  form->SpeedButtonClick();
  EXPECT_FALSE(form->isVisible());
}

}  // namespace
