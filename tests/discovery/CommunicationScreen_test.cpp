// The communication screen as a widget: its first look, the hand-over, a timer pass that finds
// a virtual plate, and what closing stores and releases.
#include "discovery/CommunicationScreen.h"
#include "KelvaroVersion.h"
#include "LayoutChecks.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QTimer>
#include <filesystem>
#include <functional>

#include <gtest/gtest.h>

#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "device/PlateCommands.h"
#include "device/SerialChannel.h"
#include "plate-sim/VirtualPlate.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

bool WaitUntil(const std::function<bool()>& condition, int timeoutMs) {
    QElapsedTimer clock;
    clock.start();
    while (!condition()) {
        if (clock.elapsed() > timeoutMs) {
            return false;
        }
        QApplication::processEvents(QEventLoop::AllEvents, 20);
    }
    return true;
}

class CommunicationScreenTest : public ::testing::Test {
  protected:
    CommunicationScreenTest() {
        std::filesystem::create_directories(tmp.Path() / "sys" / "class" / "tty");
        std::filesystem::create_directories(tmp.Path() / "dev");
        state.config.portRoots = {tmp.File("sys/class/tty"), tmp.File("dev"), tmp.File("ports")};
        state.config.settingsPath = tmp.File("settings.ini");
        mainWindow.setWindowTitle(kMainCaption);
        mainWindow.setGeometry(100, 50, 1100, 760);
        mainWindow.show();
    }
    template <typename T>
    T* Child(const char* name) {
        T* child = screen.findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(child, nullptr) << name;
        return child;
    }
    QString Text(const char* label) { return Child<QLabel>(label)->text(); }

    testing::TempDir tmp;
    sim::VirtualPlate plate;
    StationState state;
    testing::ScriptedDialogs dialogs;
    QWidget mainWindow;
    CommunicationScreen screen{state, dialogs, &mainWindow};
};

TEST_F(CommunicationScreenTest, ShowsItsInitialTextsAndTakesTheMainWindowsPlace) {
    {
        SettingsStore store(state.config.settingsPath);
        store.WriteBool(kSettingsSection, "check3", true);
        ASSERT_TRUE(store.Close());
    }
    screen.show();
    EXPECT_EQ(screen.windowTitle(),
              QString::fromUtf8("TOVAMU - Kelvaro [" KELVARO_VERSION "] - Comunicação"));
    EXPECT_FALSE(mainWindow.isVisible());
    EXPECT_EQ(screen.size(), QSize(1100, 760));
    EXPECT_EQ(Text("lbComunicacao"), QString::fromUtf8("Comunicação"));
    EXPECT_EQ(Text("lbStatus1"), QStringLiteral(" Aguardando ..."));
    EXPECT_EQ(Text("lbStatus2"), QString::fromUtf8("Aguarde enquanto o sistema tenta estabelecer "
                                                   "comunicação com os dispositivos."));
    const bool expectedTicks[] = {true, false, true, false};
    for (int number = 1; number <= kPlateCount; ++number) {
        const std::string n = std::to_string(number);
        auto* check = Child<QCheckBox>(("cbP" + n + "Ativa").c_str());
        EXPECT_EQ(check->text(), QString::fromStdString(" Placa " + n + ":"));
        EXPECT_EQ(check->isChecked(), expectedTicks[number - 1]) << number;
        EXPECT_EQ(Text(("lbP" + n + "Status").c_str()), QStringLiteral("..."));
    }
    EXPECT_EQ(Text("Label1"), QStringLiteral("Portas Seriais localizadas no sistema:"));

    // The plates in order down the panel, each with its status below it.
    testing::AtEveryWindowSize(&screen, [&] {
        testing::ExpectTopToBottom({Child<QWidget>("cbP1Ativa"), Child<QWidget>("lbP1Status"),
                                    Child<QWidget>("cbP2Ativa"), Child<QWidget>("lbP2Status"),
                                    Child<QWidget>("cbP3Ativa"), Child<QWidget>("lbP3Status"),
                                    Child<QWidget>("cbP4Ativa"), Child<QWidget>("lbP4Status")});
        testing::ExpectCentredIn(Child<QWidget>("pnComunicacao"), Child<QWidget>("pnCenter"));
        testing::ExpectInTopRightCorner(Child<QWidget>("btVoltar"));
    });

    // Enter on a ticked box is no request to leave: only "Voltar" or the close box closes.
    auto* check = Child<QCheckBox>("cbP1Ativa");
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(check, &enter);
    EXPECT_TRUE(screen.isVisible());
    EXPECT_FALSE(mainWindow.isVisible());
}

TEST_F(CommunicationScreenTest, TimerFindsAPlateAndClosingStoresTicksAndReleasesChannels) {
    const std::string port = plate.Publish(tmp.File("ports"), "COM1");
    screen.show();
    auto* timer = Child<QTimer>("tmComunicacao");
    EXPECT_EQ(timer->interval(), kFirstRefreshMs);
    const QString found = QString::fromStdString(std::string(kPlateFoundOnPort) + port);
    ASSERT_TRUE(WaitUntil([&] { return Text("lbP1Status") == found; }, 5000));
    testing::ExpectLaidOut(&screen);  // the port's path can be read whole
    EXPECT_EQ(timer->interval(), kRefreshMs);
    EXPECT_EQ(Child<QListWidget>("lsbPortas")->count(), 1);
    EXPECT_EQ(Text("lbP2Status"), QString::fromUtf8("Dispositivo não selecionado."));

    Child<QCheckBox>("cbP1Ativa")->setChecked(false);
    Child<QCheckBox>("cbP4Ativa")->setChecked(true);
    screen.setFixedSize(1000, 700);
    screen.close();

    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(mainWindow.size(), QSize(1000, 700));
    EXPECT_FALSE(timer->isActive());
    EXPECT_FALSE(state.links.channels[0]);
    EXPECT_TRUE(state.located[0]);
    EXPECT_TRUE(plate.WaitForRequests(kFnStop, 1, 2000));
    SettingsStore store(state.config.settingsPath);
    EXPECT_EQ(store.ReadString(kSettingsSection, "check1", "?"), "0");
    EXPECT_EQ(store.ReadString(kSettingsSection, "check2", "?"), "0");
    EXPECT_EQ(store.ReadString(kSettingsSection, "check3", "?"), "0");
    EXPECT_EQ(store.ReadString(kSettingsSection, "check4", "?"), "1");
    EXPECT_EQ(store.ReadString(kSettingsSection, "Porta1", "?"), port);
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(CommunicationScreenTest, FailedSaveOnCloseIsToldToTheOperator) {
    testing::WriteFileBytes(tmp.File("file"), "x");
    state.config.settingsPath = tmp.File("file/settings.ini");
    screen.show();
    screen.close();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    EXPECT_EQ(dialogs.Last().title, "Kelvaro - Comunicação");
}

}  // namespace
}  // namespace kelvaro
