// The communication screen's refresh pass against virtual plates published in a temporary
// folder, with an empty fake sysfs/dev tree so only those plates are listed.
#include "discovery/PlateFinder.h"

#include <sys/ioctl.h>
#include <termios.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <numeric>
#include <optional>
#include <thread>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "CaseNames.h"
#include "PortHoldingProgram.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"
#include "plate-sim/VirtualPlate.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

using ::testing::ElementsAre;

// Forwards to the system and writes one line per modem-line change, purge, open, write and
// close, named by the path opened, into a log shared with the finder's waits.
class RecordingOs : public SerialOs {
  public:
    explicit RecordingOs(std::vector<std::string>& log) : log_(log) {}
    int Open(const char* path, int flags) override {
        const int fd = System().Open(path, flags);
        log_.push_back("open " + std::string(path));
        if (fd >= 0) {
            paths_[fd] = path;
        }
        return fd;
    }
    int Close(int fd) override {
        log_.push_back("close " + paths_[fd]);
        return System().Close(fd);
    }
    int Ioctl(int fd, unsigned long request, void* arg) override {
        if ((request == TIOCMBIS || request == TIOCMBIC) &&
            (*static_cast<int*>(arg) & TIOCM_DTR) != 0) {
            log_.push_back((request == TIOCMBIS ? "dtr+ " : "dtr- ") + paths_[fd]);
        }
        return System().Ioctl(fd, request, arg);
    }
    int Flush(int fd, int queueSelector) override {
        log_.push_back("purge " + paths_[fd]);
        return System().Flush(fd, queueSelector);
    }
    long Write(int fd, const void* data, std::size_t count) override {
        log_.push_back("write " + paths_[fd]);
        return System().Write(fd, data, count);
    }

  private:
    std::vector<std::string>& log_;
    std::map<int, std::string> paths_;
};

class FakeView : public PlateFinderView {
  public:
    std::string status1 = " Aguardando ...";
    std::string status2 = "initial";
    std::array<std::string, kPlateCount> plateStatus{"...", "...", "...", "..."};
    std::array<bool, kPlateCount> ticked{};
    std::vector<std::string> ports;
    int portsShown = 0;
    int interval = kFirstRefreshMs;
    // The wait the finder asked for, until the test calls it back.
    std::optional<int> scheduled;
    std::vector<std::string>* log = nullptr;
    std::function<void()> onSleep;

    void ShowSearchStatusNow(const std::string& text) override { status1 = text; }
    void ShowHint(const std::string& text) override { status2 = text; }
    void ShowPlateStatus(int plate, const std::string& text) override {
        plateStatus.at(plate - 1) = text;
    }
    bool PlateTicked(int plate) const override { return ticked.at(plate - 1); }
    void ShowPorts(const std::vector<std::string>& list) override {
        ports = list;
        ++portsShown;
    }
    void SetRefreshInterval(int milliseconds) override { interval = milliseconds; }
    void ScheduleStep(int milliseconds) override {
        scheduled = milliseconds;
        if (log != nullptr && milliseconds != kReplyPollMs) {
            log->push_back("sleep " + std::to_string(milliseconds));
        }
        if (onSleep) {
            onSleep();
        }
    }
};

std::uint64_t TotalRequests(const sim::VirtualPlate& plate) {
    const sim::PlateStats stats = plate.Stats();
    return std::accumulate(std::begin(stats.requests), std::end(stats.requests), std::uint64_t{0});
}

std::string Found(const std::string& port) {
    return std::string(kPlateFoundOnPort) + port;
}

class PlateFinderTest : public ::testing::Test {
  protected:
    PlateFinderTest() {
        std::filesystem::create_directories(tmp.Path() / "sys" / "class" / "tty");
        std::filesystem::create_directories(tmp.Path() / "dev");
        state.config.portRoots = {tmp.File("sys/class/tty"), tmp.File("dev"), portFolder};
        state.config.settingsPath = tmp.File("settings.ini");
        view.log = &log;
    }

    // A plate published as `name` in the virtual-port folder; returns its port name.
    std::string AddPlate(const std::string& name, sim::PlateOptions options = {}) {
        plates.push_back(std::make_unique<sim::VirtualPlate>(options));
        EXPECT_TRUE(plates.back()->Ok());
        return plates.back()->Publish(portFolder, name);
    }
    // A port whose device never answers.
    std::string AddDeadPort(const std::string& name) {
        const std::string port = AddPlate(name);
        plates.back()->Inject({sim::FaultKind::Silence, 0});
        return port;
    }
    void Tick(std::initializer_list<int> tickedPlates) {
        view.ticked = {};
        for (int plate : tickedPlates) {
            view.ticked.at(plate - 1) = true;
        }
        finder.Refresh();
        RunPass();
    }
    // Calls the finder back until its pass ends: the line waits are not served (a virtual plate
    // needs none), the waits for replies are.
    void RunPass() {
        while (view.scheduled) {
            const int wait = *view.scheduled;
            view.scheduled.reset();
            if (wait == kReplyPollMs) {
                std::this_thread::sleep_for(std::chrono::milliseconds(wait));
            }
            finder.Step();
        }
    }
    std::string Stored(const std::string& key) {
        SettingsStore store(state.config.settingsPath);
        return store.ReadString(kSettingsSection, key, "<none>");
    }

    testing::TempDir tmp;
    std::string portFolder = tmp.File("ports");
    std::vector<std::string> log;
    RecordingOs os{log};
    std::vector<std::unique_ptr<sim::VirtualPlate>> plates;
    StationState state;
    FakeView view;
    testing::ScriptedDialogs dialogs;
    PlateFinder finder{state, view, dialogs, os};
};

TEST(PlateFinderSort, IgnoresCaseAndSortsAsText) {
    std::vector<std::string> names{"COM2", "com10", "COM1", "/dev/ttyUSB0", "Com1"};
    PlateFinder::SortPortNames(names);
    EXPECT_THAT(names, ElementsAre("/dev/ttyUSB0", "COM1", "Com1", "com10", "COM2"));
}

TEST_F(PlateFinderTest, NumbersPlatesInSortedPortOrder) {
    const std::string com2 = AddPlate("COM2");
    const std::string com1 = AddDeadPort("COM1");
    const std::string com10 = AddPlate("COM10");
    Tick({1, 2});

    EXPECT_THAT(finder.PortNames(), ElementsAre(com1, com10, com2));
    EXPECT_EQ(view.ports, finder.PortNames());
    EXPECT_EQ(view.interval, kRefreshMs);
    EXPECT_EQ(view.status1, kStatusWaiting);
    EXPECT_EQ(view.status2, kStatusTrying);
    EXPECT_EQ(state.config.platePort[0], com10);
    EXPECT_EQ(state.config.platePort[1], com2);
    EXPECT_THAT(view.plateStatus,
                ElementsAre(Found(com10), Found(com2), kPlateNotSelected, kPlateNotSelected));
    EXPECT_EQ(Stored("Porta1"), com10);
    EXPECT_EQ(Stored("Porta2"), com2);
    EXPECT_EQ(Stored("Porta3"), "<none>");
    EXPECT_FALSE(finder.IsSearching());

    Tick({1, 2});
    EXPECT_EQ(view.status1, kStatusUpdating);
    EXPECT_THAT(view.plateStatus,
                ElementsAre(Found(com10), Found(com2), kPlateNotSelected, kPlateNotSelected));
}

// The line reset of a probed port and the preparation of a taken one, in order.
TEST_F(PlateFinderTest, ProbesAndTakesAPortWithTheLineSequence) {
    const std::string port = AddPlate("COM5");
    Tick({1});
    ASSERT_EQ(view.plateStatus[0], Found(port));

    const auto lowered = std::find(log.begin(), log.end(), "dtr- " + port);
    ASSERT_NE(lowered, log.end());
    EXPECT_THAT(std::vector<std::string>(lowered, lowered + 6),
                ElementsAre("dtr- " + port, "sleep 200", "purge " + port, "sleep 200",
                            "dtr+ " + port, "write " + port));
    const auto taken = std::find(log.begin(), log.end(), "sleep 100");
    ASSERT_NE(taken, log.end());
    EXPECT_THAT(std::vector<std::string>(taken, taken + 3),
                ElementsAre("sleep 100", "purge " + port, "dtr+ " + port));
    // The probe released the port before the plate's channel opened it again.
    const auto opens = std::count(log.begin(), taken, "open " + port);
    const auto closes = std::count(log.begin(), taken, "close " + port);
    EXPECT_EQ(opens, 2);
    EXPECT_EQ(closes, 1);
}

TEST_F(PlateFinderTest, OnlyPlateTwoTickedGivesTheFirstPlateNumber) {
    const std::string port = AddPlate("COM3");
    Tick({2});
    EXPECT_TRUE(state.located[0]);
    EXPECT_FALSE(state.located[1]);
    EXPECT_EQ(state.config.platePort[0], port);
    EXPECT_THAT(view.plateStatus, ElementsAre(kPlateNotSelected, kPlateNotFound, kPlateNotSelected,
                                              kPlateNotSelected));
    EXPECT_EQ(finder.FailureCount(2), 1);
    EXPECT_EQ(Stored("Porta1"), port);
    EXPECT_EQ(Stored("Porta2"), "<none>");

    // The next scan leaves the port of found plate 1 alone. The probe's channel was closed
    // with a Stop, which the plate counts in its own time.
    ASSERT_TRUE(plates[0]->WaitForRequests(kFnStop, 1, 1000));
    const std::uint64_t before = TotalRequests(*plates[0]);
    Tick({2});
    EXPECT_EQ(TotalRequests(*plates[0]), before);
    EXPECT_EQ(view.plateStatus[1], kPlateNotFound);
}

TEST_F(PlateFinderTest, MoreTickedPlatesThanPortsLeavesTheSurplusNotFound) {
    const std::string a = AddPlate("COM1");
    const std::string b = AddPlate("COM2");
    Tick({1, 2});
    // Plate 3 is refused without a scan: a scan would open the (now unwritable) store.
    testing::WriteFileBytes(tmp.File("file"), "x");
    state.config.settingsPath = tmp.File("file/settings.ini");
    Tick({1, 2, 3, 4});
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_THAT(view.plateStatus, ElementsAre(Found(a), Found(b), kPlateNotFound, kPlateNotFound));
    EXPECT_EQ(finder.FailureCount(3), 1);
    EXPECT_EQ(finder.FailureCount(4), 1);
    EXPECT_FALSE(state.located[2]);
    // Unticking resets the count.
    Tick({1, 2});
    EXPECT_EQ(finder.FailureCount(3), 0);
}

TEST_F(PlateFinderTest, UnpluggedPlateIsLostThenFoundAgainTwoTicksLater) {
    AddDeadPort("COM1");
    const std::string port = AddPlate("COM4");
    Tick({1});
    ASSERT_EQ(view.plateStatus[0], Found(port));

    plates[1]->Unplug();
    Tick({1});
    EXPECT_EQ(view.plateStatus[0], kPlateNotFound);
    EXPECT_FALSE(state.located[0]);
    EXPECT_EQ(finder.PortNames().size(), 1u);

    AddPlate("COM4");
    Tick({1});
    EXPECT_EQ(view.plateStatus[0], Found(port));
    EXPECT_TRUE(state.located[0]);
}

TEST_F(PlateFinderTest, NoPortsLeavesListStatusesAndIntervalAlone) {
    const std::string port = AddPlate("COM4");
    Tick({1});
    ASSERT_EQ(view.plateStatus[0], Found(port));
    view.interval = kFirstRefreshMs;

    plates[0]->Unplug();
    Tick({1});
    EXPECT_EQ(view.status2, kStatusNoPorts);
    EXPECT_TRUE(finder.PortNames().empty());
    EXPECT_EQ(view.portsShown, 1);
    EXPECT_THAT(view.ports, ElementsAre(port));
    EXPECT_EQ(view.interval, kFirstRefreshMs);
    EXPECT_EQ(view.plateStatus[0], Found(port));
}

// A device of a model the station rejects gets no plate number, so its port is never stored
// for a test to use; the plate of an accepted model beside it becomes plate 1.
TEST_F(PlateFinderTest, RejectedModelIsNeitherNumberedNorStored) {
    sim::PlateOptions options;
    options.modelCode = 99;
    AddPlate("COM6", options);
    const std::string good = AddPlate("COM7");
    for (int tick = 0; tick < 2; ++tick) {
        SCOPED_TRACE(tick);
        Tick({1, 2});
        EXPECT_EQ(Stored("Porta1"), good);
        EXPECT_EQ(Stored("Porta2"), "<none>");
        EXPECT_THAT(view.plateStatus,
                    ElementsAre(Found(good), kPlateNotFound, kPlateNotSelected, kPlateNotSelected));
        EXPECT_FALSE(state.located[1]);
    }
}

TEST_F(PlateFinderTest, NoTickedBoxOpensNoPort) {
    const std::string port = AddPlate("COM7");
    Tick({});
    Tick({});
    EXPECT_EQ(view.portsShown, 2);
    EXPECT_THAT(view.plateStatus, ElementsAre(kPlateNotSelected, kPlateNotSelected,
                                              kPlateNotSelected, kPlateNotSelected));
    EXPECT_EQ(TotalRequests(*plates[0]), 0u);
    EXPECT_EQ(std::count(log.begin(), log.end(), "open " + port), 0);
}

struct HolderCase {
    const char* name;
    // Takes the port as another user of it would; letting the result go releases it.
    std::function<std::shared_ptr<void>(const std::string& port)> hold;
};

class HeldPortScan : public PlateFinderTest, public ::testing::WithParamInterface<HolderCase> {};

TEST_P(HeldPortScan, IsSkippedUntilReleased) {
    const std::string port = AddPlate("COM8");
    auto holder = GetParam().hold(port);
    ASSERT_TRUE(holder);

    Tick({1});
    EXPECT_EQ(view.plateStatus[0], kPlateNotFound);
    EXPECT_EQ(TotalRequests(*plates[0]), 0u);
    EXPECT_TRUE(dialogs.messages.empty());

    holder.reset();
    Tick({1});
    EXPECT_EQ(view.plateStatus[0], Found(port));
}

INSTANTIATE_TEST_SUITE_P(
    PlateFinder, HeldPortScan,
    ::testing::Values(HolderCase{"ByAnotherChannel",
                                 [](const std::string& port) -> std::shared_ptr<void> {
                                     auto channel = std::make_shared<SerialChannel>(port);
                                     return channel->Connect() ? channel : nullptr;
                                 }},
                      HolderCase{"ByAProgramWithoutALock", testing::PortHoldingProgram::Start}),
    [](const auto& param) { return std::string(param.param.name); });

// The look for other programs holding the ports runs on a thread of its own: the refresh and
// every step return while it is held, and no port is touched before it ends.
TEST_F(PlateFinderTest, LooksForHoldersOffTheCallingThreadAndStepsOnMeanwhile) {
    const std::string port = AddPlate("COM4");
    const std::thread::id caller = std::this_thread::get_id();
    std::promise<void> gate;
    const std::shared_future<void> released = gate.get_future().share();
    std::promise<std::thread::id> looker;
    finder.SetHolderLook("/proc", [&] {
        looker.set_value(std::this_thread::get_id());
        if (std::this_thread::get_id() != caller) {
            released.wait();
        }
    });
    view.ticked = {true, false, false, false};
    finder.Refresh();
    EXPECT_NE(looker.get_future().get(), caller);
    for (int i = 0; i < 20; ++i) {
        ASSERT_EQ(view.scheduled, kReplyPollMs);
        view.scheduled.reset();
        finder.Step();
    }
    EXPECT_EQ(std::count(log.begin(), log.end(), "open " + port), 0);
    gate.set_value();
    RunPass();
    EXPECT_EQ(view.plateStatus[0], Found(port));
}

// A tick that arrives while a scan waits does nothing but blink.
TEST_F(PlateFinderTest, TickDuringAScanOnlyBlinks) {
    AddPlate("COM1");
    std::vector<std::string> blinks;
    view.onSleep = [&] {
        if (blinks.empty()) {
            finder.Refresh();
            blinks.push_back(view.status1);
        }
    };
    Tick({1});
    EXPECT_THAT(blinks, ElementsAre(std::string(kStatusUpdating)));
    EXPECT_EQ(view.portsShown, 1);
    EXPECT_EQ(view.status1, kStatusUpdating);
}

TEST_F(PlateFinderTest, FailedSaveIsToldOnceUntilASaveSucceeds) {
    AddPlate("COM1");
    AddDeadPort("COM2");
    testing::WriteFileBytes(tmp.File("file"), "x");
    state.config.settingsPath = tmp.File("file/settings.ini");
    Tick({1});
    Tick({1, 2});
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.Last().title, "Kelvaro - Comunicação");
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    EXPECT_THAT(dialogs.Last().text,
                ::testing::StartsWith("Não foi possível salvar as portas das placas"));
}

}  // namespace
}  // namespace kelvaro
