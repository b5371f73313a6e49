// The calibration screen on the offscreen platform: what it shows when it opens, its layout,
// the load field's key filter, the live reading and what closing leaves behind.
#include "calibration/CalibrationScreen.h"
#include "KelvaroVersion.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <map>
#include <memory>

#include "CalibrationFakes.h"
#include "LayoutChecks.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "device/ChannelSlot.h"
#include "device/SerialChannel.h"
#include "plate-sim/VirtualPlate.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using testing::CountingProgress;
using testing::ScriptedDialogs;
using testing::TempDir;

void Type(QWidget* field, const QString& text) {
    for (const QChar c : text) {
        QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
        QApplication::sendEvent(field, &press);
    }
}

class CalibrationScreenTest : public ::testing::Test {
  protected:
    CalibrationScreenTest() {
        state.config.settingsPath = dir.File("Tovamu.Kelvaro.ini");
        state.config.decimalSeparator = ',';
        mainWindow.setWindowTitle(QString::fromUtf8(kMainCaption));
        mainWindow.setGeometry(100, 50, 1100, 760);
        mainWindow.show();
    }

    CalibrationScreen& Open() {
        {
            SettingsStore store(state.config.settingsPath);
            for (const auto& [key, value] : settings) {
                store.WriteString(kSettingsSection, key, value);
            }
            EXPECT_TRUE(store.Close());
        }
        screen = std::make_unique<CalibrationScreen>(state, dialogs, progress, firstActivation,
                                                     &mainWindow);
        screen->show();
        screen->ReadingTimer()->stop();
        QApplication::processEvents();
        return *screen;
    }

    std::string Stored(const std::string& key) const {
        SettingsStore store(state.config.settingsPath);
        return store.ReadString(kSettingsSection, key, "<none>");
    }

    TempDir dir;
    std::unique_ptr<sim::VirtualPlate> virtualPlate;
    StationState state;
    ScriptedDialogs dialogs;
    CountingProgress progress;
    QWidget mainWindow;
    std::map<std::string, std::string> settings;
    // Plates are read only when a test asks for a tick.
    bool firstActivation = false;
    std::unique_ptr<CalibrationScreen> screen;
};

TEST_F(CalibrationScreenTest, FirstRunShowsTheDefaults) {
    state.config.testFrequency = 300;
    auto& s = Open();

    EXPECT_EQ(s.windowTitle(),
              QStringLiteral("TOVAMU - Kelvaro [" KELVARO_VERSION "] - Calibração"));
    EXPECT_FALSE(mainWindow.isVisible());
    EXPECT_EQ(state.config.testFrequency, 50);
    EXPECT_EQ(s.ReadingTimer()->interval(), 500);
    for (int plate = 1; plate <= 4; ++plate) {
        const auto& p = s.Plate(plate);
        const bool on = plate == 1;
        EXPECT_EQ(p.activeBox->text(), QStringLiteral("Placa %1").arg(plate));
        EXPECT_EQ(p.activeBox->isChecked(), on);
        EXPECT_TRUE(p.activeBox->isEnabled());
        for (QWidget* w : std::initializer_list<QWidget*>{
                 p.readingField, p.loadField, p.tareField, p.convertedLoadField, p.indexField,
                 p.unitField, p.editIndexButton, p.calibrateButton, p.tareButton, p.zeroButton}) {
            EXPECT_EQ(w->isEnabled(), on) << w->objectName().toStdString();
        }
        EXPECT_EQ(p.loadField->text(), QStringLiteral("50"));
        EXPECT_EQ(p.unitField->text(), QStringLiteral("kgf"));
        EXPECT_EQ(p.indexField->text(), QStringLiteral("1,000"));
        EXPECT_EQ(p.tareField->text(), QStringLiteral("0,000"));
        EXPECT_EQ(p.tareButton->text(), QStringLiteral("Tara"));
        EXPECT_EQ(p.portLabel->text(), QString());
        EXPECT_EQ(p.editIndexButton->toolTip(), QStringLiteral("Editar Índice de Calibração..."));
        EXPECT_TRUE(p.readingField->isReadOnly());
    }
}

TEST_F(CalibrationScreenTest, StoredValuesAndTheExactTareCaption) {
    settings = {{"check2", "1"},      {"Porta2", "/dev/ttyUSB1"}, {"IDC2", "1000.5"}, {"t2", "1,5"},
                {"btt2", "tara"},     {"btt3", "Tara"},           {"carga2", "75"},   {"u2", "N"},
                {"Frequencia", "100"}};
    auto& s = Open();
    const auto& p = s.Plate(2);
    EXPECT_TRUE(p.activeBox->isChecked());
    EXPECT_TRUE(p.zeroButton->isEnabled());
    EXPECT_EQ(p.portLabel->text(), QStringLiteral("/dev/ttyUSB1"));
    EXPECT_EQ(p.indexField->text(), QStringLiteral("1000,500"));
    EXPECT_EQ(p.tareField->text(), QStringLiteral("1,500"));
    EXPECT_EQ(p.tareButton->text(), QStringLiteral("Remover Tara"));
    EXPECT_EQ(s.Plate(3).tareButton->text(), QStringLiteral("Tara"));
    EXPECT_EQ(p.loadField->text(), QStringLiteral("75"));
    EXPECT_EQ(p.unitField->text(), QStringLiteral("N"));
    EXPECT_EQ(state.config.testFrequency, 100);
}

TEST_F(CalibrationScreenTest, EverySizeCentresTheTwoByTwoPanelsAndKeepsVoltarInTheCorner) {
    auto& s = Open();
    const QWidget* grid = s.Plate(1).plateFrame->parentWidget();
    const auto* back = s.findChild<QPushButton*>(QStringLiteral("btVoltar"));
    ASSERT_NE(back, nullptr);
    testing::AtEveryWindowSize(&s, [&] {
        testing::ExpectLeftToRight({s.Plate(1).plateFrame, s.Plate(2).plateFrame});
        testing::ExpectLeftToRight({s.Plate(3).plateFrame, s.Plate(4).plateFrame});
        testing::ExpectTopToBottom({s.Plate(1).plateFrame, s.Plate(3).plateFrame});
        testing::ExpectTopToBottom({s.Plate(2).plateFrame, s.Plate(4).plateFrame});
        testing::ExpectCentredIn(grid, grid->parentWidget());
        testing::ExpectInTopRightCorner(back);
    });
}

TEST_F(CalibrationScreenTest, LoadFieldTakesOnlyDigitsAndTheComma) {
    auto& s = Open();
    QLineEdit* field = s.Plate(1).loadField;
    field->clear();
    Type(field, QStringLiteral("12.5"));
    EXPECT_EQ(field->text(), QStringLiteral("125"));
    field->clear();
    Type(field, QStringLiteral("-12,5 kg"));
    EXPECT_EQ(field->text(), QStringLiteral("12,5"));
    QKeyEvent backspace(QEvent::KeyPress, Qt::Key_Backspace, Qt::NoModifier, QStringLiteral("\b"));
    QApplication::sendEvent(field, &backspace);
    EXPECT_EQ(field->text(), QStringLiteral("12,"));
    // Delete arrives with the DEL character as its text and must still delete.
    field->setCursorPosition(0);
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier, QStringLiteral("\x7f"));
    QApplication::sendEvent(field, &del);
    EXPECT_EQ(field->text(), QStringLiteral("2,"));
    // Return stays in the field: no panel button is pressed behind the operator's back.
    s.Plate(1).zeroButton->setFocus();
    field->setFocus();
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier, QStringLiteral("\r"));
    QApplication::sendEvent(field, &enter);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_TRUE(s.isVisible());
}

TEST_F(CalibrationScreenTest, ClosingStoresTheFieldsAndGivesTheMainWindowBack) {
    auto& s = Open();
    s.Plate(1).loadField->setText(QStringLiteral("75"));
    s.Plate(3).activeBox->click();
    s.Plate(3).unitField->setText(QStringLiteral("lbf"));
    s.move(140, 90);

    s.close();

    EXPECT_TRUE(mainWindow.isVisible());
    EXPECT_EQ(mainWindow.pos(), QPoint(140, 90));
    EXPECT_EQ(Stored("carga1"), "75");
    EXPECT_EQ(Stored("check3"), "1");
    EXPECT_EQ(Stored("check1"), "1");
    EXPECT_EQ(Stored("check2"), "0");
    EXPECT_EQ(Stored("u3"), "lbf");
    EXPECT_FALSE(s.ReadingTimer()->isActive());
}

TEST_F(CalibrationScreenTest, LiveReadingShowsRawAndConvertedLoad) {
    sim::PlateOptions options;
    options.shape = sim::LoadShape::Script;
    options.readings = {5000};
    virtualPlate = std::make_unique<sim::VirtualPlate>(options);
    settings = {{"Porta1", virtualPlate->DevicePath()},
                {"sp1", "1000"},
                {"IDC1", "4"},
                {"Porta2", ""},
                {"check2", "1"}};
    auto& s = Open();

    s.OnReadingTick();  // looks for other holders of the ports, then opens them
    QElapsedTimer waited;
    waited.start();
    while (!SlotConnected(state.links.Slot(1)) && waited.elapsed() < 10000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    s.OnReadingTick();
    waited.start();
    while (s.Plate(1).readingField->text() != QStringLiteral("5000") && waited.elapsed() < 2000) {
        QApplication::processEvents(QEventLoop::AllEvents, 10);
    }

    EXPECT_EQ(s.Plate(1).readingField->text(), QStringLiteral("5000"));
    EXPECT_EQ(s.Plate(1).convertedLoadField->text(), QStringLiteral("1000,000"));
    EXPECT_EQ(s.Plate(1).readingField->palette().color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(s.Plate(2).readingField->text(), QStringLiteral("16000000"));
    EXPECT_EQ(s.Plate(2).convertedLoadField->text(), QStringLiteral("---"));
    EXPECT_NE(s.Plate(2).readingField->palette().color(QPalette::Text), QColor(0, 0, 0));
    EXPECT_EQ(s.Plate(3).readingField->text(), QString());  // not ticked: never read
}

TEST_F(CalibrationScreenTest, PlateButtonsPauseTheReadingTimer) {
    auto& s = Open();
    s.ReadingTimer()->start();
    bool activeDuringOperation = true;
    dialogs.onMessage = [&](const testing::RecordedMessage&) {
        activeDuringOperation = s.ReadingTimer()->isActive();
    };

    s.Plate(1).zeroButton->click();  // no port: the preparation fails at its first steps
    QElapsedTimer clock;
    clock.start();
    while (dialogs.messages.empty() && clock.elapsed() < 30000) {
        QApplication::processEvents(QEventLoop::AllEvents, 5);
    }

    EXPECT_EQ(dialogs.Last().text, "Falha ao Conectar a Placa 1, favor verificar a Comunicação.");
    EXPECT_FALSE(activeDuringOperation);
    EXPECT_TRUE(s.ReadingTimer()->isActive());
}

}  // namespace
}  // namespace kelvaro
