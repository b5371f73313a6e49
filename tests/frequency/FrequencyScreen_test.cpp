#include <gtest/gtest.h>

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QRadioButton>
#include <QWidget>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "CaseNames.h"
#include "KelvaroVersion.h"
#include "LayoutChecks.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "device/SerialChannel.h"
#include "frequency/FrequencyScreen.h"
#include "settings/SettingsStore.h"
#include "ui/Panels.h"
#include "ui/PictureButton.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

using Stored = std::vector<std::pair<std::string, std::string>>;
using Ticks = std::array<bool, 7>;

enum class CloseBy { BackButton, CloseBox };

class FrequencyScreenTest : public ::testing::Test {
  protected:
    FrequencyScreenTest() {
        state.config.settingsPath = dir.File("Tovamu.Kelvaro.ini");
        mainWindow.setWindowTitle(QStringLiteral("TOVAMU - Kelvaro [" KELVARO_VERSION "]"));
        mainWindow.move(100, 50);
        mainWindow.resize(1100, 760);
        mainWindow.show();
    }

    void Store(const Stored& values) {
        SettingsStore store(state.config.settingsPath);
        for (const auto& [key, value] : values) {
            store.WriteString(kSettingsSection, key, value);
        }
        ASSERT_TRUE(store.Close());
    }
    FrequencyScreen& Open() {
        screen = std::make_unique<FrequencyScreen>(state, dialogs, &mainWindow);
        screen->show();
        QApplication::processEvents();
        return *screen;
    }
    void Close(CloseBy how) {
        if (how == CloseBy::BackButton) {
            screen->backButton->click();
        } else {
            QCloseEvent closeBox;
            QApplication::sendEvent(screen.get(), &closeBox);
        }
        QApplication::processEvents();
    }
    Ticks TicksOnScreen() const {
        Ticks ticks{};
        for (int i = 0; i < 7; ++i) {
            ticks[static_cast<std::size_t>(i)] = screen->Option(i)->isChecked();
        }
        return ticks;
    }
    std::string StoredText(const std::string& key) const {
        SettingsStore store(state.config.settingsPath);
        return store.ReadString(kSettingsSection, key, "<missing>");
    }
    Ticks StoredTicks() const {
        Ticks ticks{};
        for (int i = 0; i < 7; ++i) {
            const std::string text = StoredText("freq" + std::to_string(i + 1));
            EXPECT_TRUE(text == "0" || text == "1") << "freq" << i + 1 << " = " << text;
            ticks[static_cast<std::size_t>(i)] = text == "1";
        }
        return ticks;
    }

    testing::TempDir dir;
    testing::ScriptedDialogs dialogs;
    StationState state;
    QWidget mainWindow;
    std::unique_ptr<FrequencyScreen> screen;
};

struct ScreenCase {
    const char* name;
    Stored stored;
    int clickOption;  // -1: no click
    CloseBy closeBy;
    Ticks shownTicks;
    Ticks storedTicks;
    const char* storedFrequency;
};

class FrequencyCases : public FrequencyScreenTest,
                       public ::testing::WithParamInterface<ScreenCase> {};

TEST_P(FrequencyCases, StoresTheTickedOptionAndTheSelectedFrequency) {
    const ScreenCase& c = GetParam();
    Store(c.stored);
    Open();
    EXPECT_EQ(TicksOnScreen(), c.shownTicks);
    if (c.clickOption >= 0) {
        screen->Option(c.clickOption)->click();
    }
    Close(c.closeBy);

    EXPECT_FALSE(screen->isVisible());
    EXPECT_EQ(StoredTicks(), c.storedTicks);
    EXPECT_EQ(StoredText("Frequencia"), c.storedFrequency);
    EXPECT_TRUE(dialogs.messages.empty());
}

const Ticks k050{true, false, false, false, false, false, false};
const Ticks k150{false, false, true, false, false, false, false};
const Ticks k300{false, false, false, false, true, false, false};
const Ticks k400{false, false, false, false, false, true, false};
const Ticks k600{false, false, false, false, false, false, true};

INSTANTIATE_TEST_SUITE_P(
    Cases, FrequencyCases,
    ::testing::Values(
        ScreenCase{"FirstRun", {}, -1, CloseBy::BackButton, k050, k050, "50"},
        ScreenCase{"Click300", {}, 4, CloseBy::BackButton, k050, k300, "300"},
        // The tick shows the stored frequency, the rate in use, whatever the option states say.
        ScreenCase{"DisagreeingStateShowsTheRateInUse",
                   {{"freq1", "0"}, {"freq2", "1"}, {"Frequencia", "400"}},
                   -1,
                   CloseBy::BackButton,
                   k400,
                   k400,
                   "400"},
        // A rate the plates cannot run at reads as 50.
        ScreenCase{"UnlistedRate",
                   {{"freq7", "1"}, {"Frequencia", "99999"}},
                   -1,
                   CloseBy::BackButton,
                   k050,
                   k050,
                   "50"},
        ScreenCase{
            "SixteenBits", {{"Frequencia", "65586"}}, -1, CloseBy::BackButton, k050, k050, "50"},
        ScreenCase{
            "NegativeRate", {{"Frequencia", "-600"}}, -1, CloseBy::BackButton, k050, k050, "50"},
        ScreenCase{
            "NotANumber", {{"Frequencia", "abc"}}, -1, CloseBy::BackButton, k050, k050, "50"},
        ScreenCase{"CloseBoxLikeVoltar", {}, 2, CloseBy::CloseBox, k050, k150, "150"},
        ScreenCase{"CloseBoxWithoutClick",
                   {{"freq7", "1"}, {"Frequencia", "600"}},
                   -1,
                   CloseBy::CloseBox,
                   k600,
                   k600,
                   "600"},
        ScreenCase{"NoneTickedShowsTheRateInUse",
                   {{"freq1", "0"}, {"Frequencia", "300"}},
                   -1,
                   CloseBy::BackButton,
                   k300,
                   k300,
                   "300"}),
    [](const ::testing::TestParamInfo<ScreenCase>& param) {
        return std::string(param.param.name);
    });

TEST_F(FrequencyScreenTest, OptionsCarryTheirCaptionsAndTagsInOrder) {
    Open();
    const struct {
        const char* caption;
        int tag;
    } expected[] = {{"050", 50},  {"100", 100}, {"150", 150}, {"200", 200},
                    {"300", 300}, {"400", 400}, {"600", 600}};
    std::vector<const QWidget*> options;
    for (int i = 0; i < 7; ++i) {
        QRadioButton* option = screen->Option(i);
        EXPECT_EQ(option->text(), QString::fromLatin1(expected[i].caption));
        EXPECT_EQ(option->parentWidget(), screen->frequencyPanel);
        EXPECT_EQ(option->cursor().shape(), Qt::PointingHandCursor);
        option->click();
        EXPECT_EQ(screen->SelectedFrequency(), expected[i].tag);
        options.push_back(option);
    }
    testing::ExpectLeftToRight(options);
    EXPECT_EQ(screen->titleLabel->text(), QStringLiteral("Frequência (Hz)"));
    EXPECT_EQ(screen->backButton->text(), QStringLiteral("Voltar"));
}

TEST_F(FrequencyScreenTest, TakesTheMainWindowsPlaceAndGivesItBack) {
    Open();
    EXPECT_EQ(screen->windowTitle(),
              QStringLiteral("TOVAMU - Kelvaro [" KELVARO_VERSION "] - Frequência"));
    EXPECT_EQ(screen->pos(), QPoint(100, 50));
    EXPECT_EQ(screen->size(), QSize(1100, 760));
    EXPECT_FALSE(mainWindow.isVisible());

    // Enter on an option is no request to leave: only "Voltar" or the close box closes.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QApplication::sendEvent(screen->option300, &enter);
    EXPECT_TRUE(screen->isVisible());
    EXPECT_FALSE(mainWindow.isVisible());

    screen->move(300, 200);
    Close(CloseBy::BackButton);
    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(mainWindow.pos(), QPoint(300, 200));
    EXPECT_EQ(mainWindow.size(), QSize(1100, 760));
}

TEST_F(FrequencyScreenTest, EverySizeCentresTheOptionsAndKeepsVoltarInTheCorner) {
    Open();
    testing::AtEveryWindowSize(screen.get(), [&] {
        testing::ExpectCentredIn(screen->frequencyPanel, screen->centrePanel);
        testing::ExpectInTopRightCorner(screen->backButton);
    });
}

TEST_F(FrequencyScreenTest, AFailedSaveIsReportedToTheOperator) {
    Open();
    screen->option600->click();
    // The store cannot be written: a file stands where its folder should be.
    testing::WriteFileBytes(dir.File("blocked"), "");
    state.config.settingsPath = dir.File("blocked") + "/Tovamu.Kelvaro.ini";
    Close(CloseBy::BackButton);

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.Last().text, "Não foi possível gravar as configurações em \"" +
                                       state.config.settingsPath +
                                       "\" (criar a pasta): um componente do caminho não é uma "
                                       "pasta.");
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    EXPECT_EQ(dialogs.Last().buttons, DialogButtons::Ok);
    EXPECT_TRUE(mainWindow.isVisible());
}

}  // namespace
}  // namespace kelvaro
