// The calibration operations against virtual plates whose readings are scripted, with scripted
// dialogs, a counting progress window and the settings in a temporary file.
#include "calibration/CalibrationOps.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <future>
#include <map>
#include <memory>
#include <thread>
#include <utility>

#include "CalibrationFakes.h"
#include "CaseNames.h"
#include "PortHoldingProgram.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "device/ChannelSlot.h"
#include "device/SerialChannel.h"
#include "plate-sim/VirtualPlate.h"
#include "settings/NumberText.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using testing::CountingProgress;
using testing::FakeCalibrationView;
using testing::PrintTo;
using testing::ScriptedDialogs;
using testing::TempDir;

std::vector<std::uint32_t> Repeat(std::uint32_t value, int times) {
    return std::vector<std::uint32_t>(static_cast<std::size_t>(times), value);
}

class CalibrationOpsTest : public ::testing::Test {
  protected:
    CalibrationOpsTest() {
        state.config.settingsPath = dir.File("Tovamu.Kelvaro.ini");
        state.config.decimalSeparator = ',';
        settings["Frequencia"] = "50";
    }

    // A plate on its pseudo-terminal reading `readings` in order (the last one repeats); its
    // device path becomes the plate's stored port.
    sim::VirtualPlate& AddPlate(int plate, std::vector<std::uint32_t> readings) {
        sim::PlateOptions options;
        options.shape = sim::LoadShape::Script;
        options.readings = std::move(readings);
        auto& slot = plates.at(static_cast<std::size_t>(plate - 1));
        slot = std::make_unique<sim::VirtualPlate>(options);
        EXPECT_TRUE(slot->Ok());
        settings["Porta" + std::to_string(plate)] = slot->DevicePath();
        return *slot;
    }

    // Writes the seeded settings and opens the operations as the screen does.
    CalibrationOps& Ops() {
        {
            SettingsStore store(state.config.settingsPath);
            for (const auto& [key, value] : settings) {
                store.WriteString(kSettingsSection, key, value);
            }
            EXPECT_TRUE(store.Close());
        }
        ops = std::make_unique<CalibrationOps>(state, dialogs, progress, view, firstActivation);
        ops->Open();
        return *ops;
    }

    std::string Stored(const std::string& key) const {
        SettingsStore store(state.config.settingsPath);
        return store.ReadString(kSettingsSection, key, "<none>");
    }

    void ExpectTimerBalanced(int stops) const {
        EXPECT_EQ(view.timerStops, stops);
        EXPECT_EQ(view.timerStarts, stops);
        EXPECT_TRUE(view.timerRunning);
    }

    // One reading tick, its replies collected as the screen's timer would.
    void Tick(const std::array<bool, 4>& ticked) {
        ops->ReadingTick(ticked);
        while (view.scheduled) {
            std::this_thread::sleep_for(std::chrono::milliseconds(*view.scheduled));
            view.scheduled.reset();
            ops->ContinueReading();
        }
    }

    // The reading steps asked for, run as the screen's timer would.
    void Settle() {
        while (view.scheduled) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(*std::exchange(view.scheduled, {})));
            ops->ContinueReading();
        }
    }

    // The plate preparation's steps, run as the screen's timer would, and the operation after.
    void Prepared() {
        while (view.preparationDue) {
            std::this_thread::sleep_for(
                std::chrono::milliseconds(*std::exchange(view.preparationDue, {})));
            ops->ContinuePreparation();
        }
    }

    std::uint64_t Requests(int plate, std::uint8_t function) const {
        return plates.at(static_cast<std::size_t>(plate - 1))->Stats().requests[function];
    }

    TempDir dir;
    std::array<std::unique_ptr<sim::VirtualPlate>, 4> plates;
    StationState state;  // after the plates: its channels close while they still listen
    ScriptedDialogs dialogs;
    CountingProgress progress;
    FakeCalibrationView view;
    std::map<std::string, std::string> settings;
    bool firstActivation = true;
    std::unique_ptr<CalibrationOps> ops;
};

TEST_F(CalibrationOpsTest, ZeroingStoresTheRoundedAverageAfterTheSuccessMessage) {
    settings["Frequencia"] = "100";
    auto readings = Repeat(8388608, 75);
    readings.resize(100, 8388609);  // 75 x 8388608 + 25 x 8388609: average 8388608.25
    AddPlate(1, readings);
    std::string storedWhileMessageOpen;
    dialogs.onMessage = [&](const testing::RecordedMessage& m) {
        if (m.text == "Zerar realizado com sucesso!") {
            storedWhileMessageOpen = Stored("sp1");
        }
    };

    Ops().ZeroPlate(1);

    Prepared();

    EXPECT_DOUBLE_EQ(ops->Values(1).zeroOffset, 8388608.25);
    EXPECT_EQ(Stored("sp1"), "8388608,250");
    EXPECT_EQ(storedWhileMessageOpen, "<none>");
    ASSERT_EQ(dialogs.messages.size(), 2u);
    EXPECT_EQ(dialogs.messages[0].text, "Deixe a Placa 1 sem peso e clique em OK para Zerar.");
    EXPECT_EQ(dialogs.messages[0].title, "Placa 1 - Zerar");
    EXPECT_EQ(dialogs.messages[0].buttons, DialogButtons::OkCancel);
    EXPECT_EQ(dialogs.messages[0].icon, DialogIcon::Question);
    EXPECT_EQ(dialogs.messages[1].icon, DialogIcon::Information);
    EXPECT_EQ(plates[0]->ConfiguredMode(), 0);
    EXPECT_EQ(plates[0]->ConfiguredFrequency(), 100);
    EXPECT_EQ(Requests(1, 4), 100u);
    EXPECT_EQ(progress.maximum, 100);
    EXPECT_EQ(progress.position, 100);
    EXPECT_EQ(progress.shows, 1);
    EXPECT_EQ(progress.closes, 1);
    EXPECT_FALSE(progress.visible);
    ExpectTimerBalanced(1);
}

TEST_F(CalibrationOpsTest, TareMakesTheLoadedPlateReadZero) {
    settings["sp1"] = "1000";
    settings["IDC1"] = "200";
    AddPlate(1, {3000});

    Ops().ToggleTare(1);

    Prepared();

    EXPECT_DOUBLE_EQ(ops->Values(1).tare, 10.0);
    EXPECT_EQ(view.tareText[0], "10,000");
    EXPECT_EQ(view.tareCaption[0], "Remover Tara");
    EXPECT_EQ(Stored("btt1"), "Remover Tara");
    EXPECT_EQ(Stored("t1"), "10,000");
    EXPECT_EQ(dialogs.Last().text, "Cálculo da Tara realizado com sucesso!");
    EXPECT_EQ(plates[0]->ConfiguredMode(), 2);
    ExpectTimerBalanced(1);

    Tick({true, false, false, false});
    EXPECT_FALSE(view.shown[0].failed);
    EXPECT_EQ(view.shown[0].reading, "3000");
    EXPECT_EQ(view.shown[0].tare, "10,000");
    EXPECT_EQ(view.shown[0].index, "200,000");
    EXPECT_EQ(view.shown[0].load, "0,000");
}

// The tare taken in this visit of the screen, or stored by an earlier one (true).
class TareRemoval : public CalibrationOpsTest, public ::testing::WithParamInterface<bool> {};

TEST_P(TareRemoval, NeedsNoPlateAndStoresZero) {
    settings["sp1"] = "1000";
    settings["IDC1"] = "200";
    AddPlate(1, {3000});
    Ops().ToggleTare(1);
    Prepared();
    if (GetParam()) {
        Ops();
        ASSERT_EQ(ops->Values(1).tare, 10.0);
    }
    const auto identifies = Requests(1, 1);
    dialogs.messages.clear();

    ops->ToggleTare(1);

    Prepared();

    EXPECT_EQ(ops->Values(1).tare, 0.0);
    EXPECT_EQ(view.tareText[0], "0,000");
    EXPECT_EQ(view.tareCaption[0], "Tara");
    EXPECT_EQ(Stored("btt1"), "Tara");
    EXPECT_EQ(Stored("t1"), "0,000");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Requests(1, 1), identifies);
    ExpectTimerBalanced(1);  // only the taking stopped the timer
}

INSTANTIATE_TEST_SUITE_P(Visits, TareRemoval, ::testing::Values(false, true), [](const auto& test) {
    return test.param ? "StoredByAnEarlierVisit" : "TakenInThisVisit";
});

struct TwoPointCase {
    const char* load;
    std::uint32_t empty;
    std::uint32_t loaded;
    const char* index;
    const char* storedLoad;
};

std::ostream& operator<<(std::ostream& out, const TwoPointCase& c) {
    return out << c.load << " kgf, " << c.empty << " to " << c.loaded;
}

class TwoPointCalibration : public CalibrationOpsTest,
                            public ::testing::WithParamInterface<TwoPointCase> {};

TEST_P(TwoPointCalibration, StoresTheValuesInTheUsersNotation) {
    const TwoPointCase& c = GetParam();
    auto readings = Repeat(c.empty, 50);
    readings.push_back(c.loaded);
    AddPlate(1, readings);
    settings["t1"] = "3";
    view.load[0] = c.load;

    Ops().Calibrate(1);

    Prepared();

    EXPECT_EQ(Stored("idc1"), c.index);
    EXPECT_EQ(Stored("sp1"), FormatNumber(c.empty, NumberPattern::ThreeDecimals, ','));
    EXPECT_EQ(Stored("ComPesoP1"), FormatNumber(c.loaded, NumberPattern::ThreeDecimals, ','));
    EXPECT_EQ(Stored("Carga1"), c.storedLoad);
    EXPECT_EQ(Stored("FrequenciaP1"), "50");
    EXPECT_EQ(Stored("t1"), "3");  // the tare is not the calibration's business
    EXPECT_EQ(ops->Values(1).tare, 3.0);
    EXPECT_EQ(plates[0]->ConfiguredMode(), 2);
    EXPECT_EQ(Requests(1, 4), 100u);
    EXPECT_EQ(dialogs.Texts(),
              (std::vector<std::string>{
                  "Deixe a Placa 1 sem peso e clique em OK para efetuar a Calibração.",
                  "Calibração sem Peso realizada com sucesso!",
                  std::string("Coloque a Carga de ") + c.load +
                      " (kgf) e clique em OK para efetuar a Calibração.",
                  "Calibração com Peso realizada com sucesso!"}));
    EXPECT_EQ(dialogs.messages[2].title, "Placa 1 - Calibração com Peso");
    ExpectTimerBalanced(1);
}

INSTANTIATE_TEST_SUITE_P(
    Loads, TwoPointCalibration,
    ::testing::Values(TwoPointCase{"50", 1000, 51000, "1000,0000", "50,000"},
                      // equal averages: the difference counts as 1
                      TwoPointCase{"50", 1000, 1000, "0,0200", "50,000"},
                      TwoPointCase{"12,5", 1000, 26000, "2000,0000", "12,500"},
                      // a plate whose reading falls under load gets a negative index
                      TwoPointCase{"50", 51000, 1000, "-1000,0000", "50,000"}));

TEST_F(CalibrationOpsTest, CancellingTheLoadedPhaseChangesNothing) {
    settings["sp1"] = "7";
    settings["IDC1"] = "3";
    AddPlate(1, {1000});
    dialogs.answers = {DialogResult::Ok, DialogResult::Cancel};

    Ops().Calibrate(1);

    Prepared();

    EXPECT_EQ(dialogs.Texts()[1], "Calibração sem Peso realizada com sucesso!");
    EXPECT_EQ(dialogs.Last().text, "Calibração cancelada!");
    EXPECT_EQ(dialogs.Last().title, "Placa 1 - Calibração com Peso");
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Warning);
    EXPECT_EQ(ops->Values(1).zeroOffset, 7.0);
    EXPECT_EQ(ops->Values(1).index, 3.0);
    EXPECT_EQ(Stored("sp1"), "7");
    EXPECT_EQ(Stored("IDC1"), "3");
    EXPECT_EQ(Stored("ComPesoP1"), "<none>");
    EXPECT_EQ(Stored("FrequenciaP1"), "<none>");
    EXPECT_EQ(Stored("Carga1"), "<none>");
    EXPECT_EQ(Requests(1, 4), 50u);
    ExpectTimerBalanced(1);
}

struct AbandonedCase {
    const char* name;
    // Arranges the plate and the progress window before the zeroing starts.
    std::function<void(sim::VirtualPlate&, CountingProgress&)> arrange;
    const char* text;
    DialogIcon icon;
};

class AbandonedRun : public CalibrationOpsTest,
                     public ::testing::WithParamInterface<AbandonedCase> {};

// However a run ends early, the window closes at once, the readings taken are discarded and
// the plate keeps its old zero.
TEST_P(AbandonedRun, ClosesTheWindowAndChangesNothing) {
    auto& plate = AddPlate(1, {5000});
    GetParam().arrange(plate, progress);

    Ops().ZeroPlate(1);

    Prepared();

    EXPECT_LT(progress.position, 50);
    // At most the reading in flight when the run ended went unused.
    EXPECT_GE(Requests(1, 4), static_cast<std::uint64_t>(progress.position));
    EXPECT_LE(Requests(1, 4), static_cast<std::uint64_t>(progress.position) + 1);
    EXPECT_FALSE(progress.visible);
    EXPECT_EQ(progress.closes, 1);
    EXPECT_EQ(dialogs.Last().text, GetParam().text);
    EXPECT_EQ(dialogs.Last().title, "Placa 1 - Zerar");
    EXPECT_EQ(dialogs.Last().icon, GetParam().icon);
    EXPECT_EQ(ops->Values(1).zeroOffset, 0.0);
    EXPECT_EQ(Stored("sp1"), "<none>");
    ExpectTimerBalanced(1);
}

INSTANTIATE_TEST_SUITE_P(
    Ways, AbandonedRun,
    ::testing::Values(
        AbandonedCase{"SilentThirtySeventhReading",
                      [](sim::VirtualPlate& plate, CountingProgress& progress) {
                          progress.onPosition = [&plate](int position) {
                              if (position == 36) {
                                  plate.Inject({sim::FaultKind::Silence, 1});
                              }
                          };
                      },
                      "Processo de Zerar não foi efetuado corretamente, tentar novamente.",
                      DialogIcon::Error},
        // 50 readings at 50 Hz should take a second; 100 ms a reply would take five.
        AbandonedCase{"PlateTooSlowForItsRate",
                      [](sim::VirtualPlate& plate, CountingProgress&) {
                          plate.Inject({sim::FaultKind::LateReply, 0, 0, 0, 100});
                      },
                      "Processo de Zerar não foi efetuado corretamente, tentar novamente.",
                      DialogIcon::Error},
        // The button is heard between two steps of the run: a plate answering in 20 ms gives
        // the operator a second to press it.
        AbandonedCase{"CancelledFromTheProgressWindow",
                      [](sim::VirtualPlate& plate, CountingProgress& progress) {
                          plate.Inject({sim::FaultKind::LateReply, 0, 0, 0, 20});
                          progress.cancelAt = 10;
                      },
                      "Zerar cancelado!", DialogIcon::Warning}),
    [](const auto& test) { return std::string(test.param.name); });

class FailureThreshold : public CalibrationOpsTest,
                         public ::testing::WithParamInterface<std::pair<std::uint32_t, bool>> {};

TEST_P(FailureThreshold, ReadingsFromSixteenMillionUpEndTheRun) {
    const auto [reading, accepted] = GetParam();
    AddPlate(1, {reading});

    Ops().ToggleTare(1);

    Prepared();

    if (accepted) {
        EXPECT_EQ(Stored("t1"), FormatNumber(reading, NumberPattern::ThreeDecimals, ','));
        EXPECT_EQ(view.tareCaption[0], "Remover Tara");
    } else {
        EXPECT_EQ(dialogs.Last().text,
                  "Cálculo da Tara não efetuado corretamente, tentar novamente.");
        EXPECT_EQ(Requests(1, 4), 1u);
        EXPECT_EQ(Stored("t1"), "<none>");
        EXPECT_EQ(view.tareCaption[0], "Tara");
    }
}

INSTANTIATE_TEST_SUITE_P(Readings, FailureThreshold,
                         ::testing::Values(std::pair<std::uint32_t, bool>{16000000, false},
                                           std::pair<std::uint32_t, bool>{16777215, false},
                                           std::pair<std::uint32_t, bool>{15999999, true}));

TEST_F(CalibrationOpsTest, PlateThreeWritesOnlyItsOwnKeys) {
    AddPlate(3, {2000});
    view.load[2] = "10";
    view.unit[2] = "N";

    Ops().Calibrate(3);

    Prepared();

    for (const char* base : {"sp", "ComPesoP", "idc", "Carga", "FrequenciaP"}) {
        for (int plate = 1; plate <= 4; ++plate) {
            const std::string key = base + std::to_string(plate);
            EXPECT_EQ(Stored(key) != "<none>", plate == 3) << key;
        }
    }
    EXPECT_EQ(dialogs.messages[2].text,
              "Coloque a Carga de 10 (N) e clique em OK para efetuar a Calibração.");
    EXPECT_EQ(dialogs.messages[0].title, "Placa 3 - Calibração sem Peso");
    EXPECT_TRUE(state.links.Slot(3) != nullptr);
    EXPECT_TRUE(state.links.Slot(1) == nullptr);
}

class LoadRefused : public CalibrationOpsTest,
                    public ::testing::WithParamInterface<std::pair<const char*, const char*>> {};

TEST_P(LoadRefused, BeforeThePlateIsTouched) {
    AddPlate(1, {1000});
    view.load[0] = GetParam().first;

    Ops().Calibrate(1);

    Prepared();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.Last().text, GetParam().second);
    EXPECT_EQ(dialogs.Last().title, "Placa 1 - Calibração");
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Information);
    EXPECT_EQ(view.focusedLoadField, 1);
    EXPECT_EQ(Requests(1, 1), 0u);
    ExpectTimerBalanced(1);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LoadRefused,
    ::testing::Values(std::pair{"", "O valor da Carga deve ser informado."},
                      std::pair{"0", "O valor da Carga deve ser um número diferente de zero."},
                      std::pair{"0,000", "O valor da Carga deve ser um número diferente de zero."},
                      std::pair{",", "O valor da Carga deve ser um número diferente de zero."},
                      std::pair{"1,2,3",
                                "O valor da Carga deve ser um número diferente de zero."}));

struct PreparationCase {
    const char* name;
    std::function<void(sim::VirtualPlate&, std::map<std::string, std::string>&)> arrange;
    const char* text;
    DialogIcon icon;
};

class PreparationFailure : public CalibrationOpsTest,
                           public ::testing::WithParamInterface<PreparationCase> {};

TEST_P(PreparationFailure, ShowsOnlyItsMessageAndMeasuresNothing) {
    auto& plate = AddPlate(1, {1000});
    GetParam().arrange(plate, settings);

    Ops().ZeroPlate(1);
    // Nothing waits inside the click: the preparation goes on in the screen's timer steps, and
    // another plate button meanwhile starts nothing.
    EXPECT_TRUE(dialogs.messages.empty());
    ASSERT_TRUE(view.preparationDue);
    ops->Calibrate(1);
    Prepared();

    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.Last().text, GetParam().text);
    EXPECT_EQ(dialogs.Last().title, "Placa 1 - Calibração");
    EXPECT_EQ(dialogs.Last().icon, GetParam().icon);
    EXPECT_EQ(Requests(1, 4), 0u);
    EXPECT_EQ(progress.shows, 0);
    ExpectTimerBalanced(1);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, PreparationFailure,
    ::testing::Values(
        PreparationCase{"PortMissing",
                        [](sim::VirtualPlate&, std::map<std::string, std::string>& s) {
                            s["Porta1"] = "/dev/kelvaro-no-such-port";
                        },
                        "Falha ao Conectar a Placa 1, favor verificar a Comunicação.",
                        DialogIcon::Information},
        PreparationCase{"SilentPlate",
                        [](sim::VirtualPlate& p, std::map<std::string, std::string>&) {
                            p.Inject({sim::FaultKind::Silence, 0});
                        },
                        "Falha ao Identificar a Placa 1, favor verificar a Comunicação.",
                        DialogIcon::Error},
        // The identification reply keeps its function 1; the configuration's gets 1 too and
        // is rejected for it.
        PreparationCase{"ConfigurationRejected",
                        [](sim::VirtualPlate& p, std::map<std::string, std::string>&) {
                            p.Inject({sim::FaultKind::WrongFunction, 2, 0, 1});
                        },
                        "Falha ao Configurar a Placa 1, favor tentar novamente.",
                        DialogIcon::Error}),
    [](const auto& test) { return std::string(test.param.name); });

// A stored rate no plate runs at (an outside edit) measures at the default rate: the plate is
// configured for 50 Hz, never for the low byte of the stored number.
TEST_F(CalibrationOpsTest, AStoredFrequencyOfZeroMeasuresAtTheDefaultRate) {
    settings["Frequencia"] = "0";
    sim::VirtualPlate& plate = AddPlate(1, {1000});
    dialogs.answers = {DialogResult::Cancel};  // the zeroing's prompt

    Ops().ZeroPlate(1);

    Prepared();

    EXPECT_EQ(dialogs.Texts(),
              (std::vector<std::string>{"Deixe a Placa 1 sem peso e clique em OK para Zerar.",
                                        "Zerar cancelado!"}));
    EXPECT_EQ(plate.Stats().configuredFrequency, 50);
    ExpectTimerBalanced(1);
}

struct IndexCase {
    const char* typed;
    bool accepted;
    double index;
    const char* field;
    const char* stored;
};

std::ostream& operator<<(std::ostream& out, const IndexCase& c) {
    return out << ::testing::PrintToString(c.typed);
}

class IndexEntry : public CalibrationOpsTest, public ::testing::WithParamInterface<IndexCase> {};

TEST_P(IndexEntry, StoresAValidIndexThenZeroes) {
    const IndexCase& c = GetParam();
    settings["IDC1"] = "4";
    AddPlate(1, {1000});
    view.index[0] = "4,000";
    dialogs.inputs = {std::string(c.typed)};
    dialogs.answers = {DialogResult::Cancel};  // the zeroing's prompt

    Ops().EditIndex(1);

    Prepared();

    EXPECT_EQ(dialogs.inputPrompts,
              (std::vector<std::string>{
                  "Índice de Calibração|Informe o Índice de Calibração da Placa 1:"}));
    if (c.accepted) {
        EXPECT_DOUBLE_EQ(ops->Values(1).index, c.index);
        EXPECT_EQ(view.index[0], c.field);
        EXPECT_EQ(Stored("idc1"), c.stored);
        EXPECT_EQ(dialogs.Texts(),
                  (std::vector<std::string>{"Deixe a Placa 1 sem peso e clique em OK para Zerar.",
                                            "Zerar cancelado!"}));
        ExpectTimerBalanced(1);  // stopped by the zeroing only
    } else {
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.Last().text, "O Índice de Calibração informado é inválido!");
        EXPECT_EQ(dialogs.Last().title, "TOVAMU - Kelvaro");
        EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
        EXPECT_EQ(ops->Values(1).index, 4.0);
        EXPECT_EQ(view.index[0], "4,000");
        EXPECT_EQ(Stored("idc1"), "4");
        ExpectTimerBalanced(0);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Typed, IndexEntry,
    ::testing::Values(IndexCase{"2,5", true, 2.5, "2,500", "2,5000"},
                      IndexCase{"-2,5", true, -2.5, "-2,500", "-2,5000"},
                      IndexCase{"1234,56789", true, 1234.56789, "1234,568", "1234,5679"},
                      IndexCase{"0", false, 0, "", ""}, IndexCase{"0,000", false, 0, "", ""},
                      IndexCase{"abc", false, 0, "", ""}, IndexCase{"", false, 0, "", ""},
                      IndexCase{"2.5", false, 0, "", ""},
                      // Stored as 0,0000 it would refuse every later test.
                      IndexCase{"0,00004", false, 0, "", ""},
                      IndexCase{"0,00005", true, 0.00005, "0,000", "0,0001"},
                      IndexCase{"10000000000000", false, 0, "", ""}));

TEST_F(CalibrationOpsTest, CancellingTheIndexEntryLeavesEverythingAsItWas) {
    settings["IDC1"] = "1234,5678";
    AddPlate(1, {1000});
    view.index[0] = "1234,568";
    dialogs.inputs = {std::nullopt};

    Ops().EditIndex(1);

    Prepared();

    EXPECT_EQ(ops->Values(1).index, 1234.5678);
    EXPECT_EQ(view.index[0], "1234,568");
    EXPECT_EQ(Stored("idc1"), "1234,5678");
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(Requests(1, 1), 0u);
    ExpectTimerBalanced(0);
}

TEST_F(CalibrationOpsTest, TickShowsTheFailureValueInRedThenReadsOnceTheChannelIsOpen) {
    settings["sp1"] = "1000";
    settings["IDC1"] = "2";
    settings["t1"] = "0,5";
    AddPlate(1, {5000});
    Ops();

    Tick({true, false, false, false});  // the slot was empty: this tick opens it
    EXPECT_TRUE(view.shown[0].failed);
    EXPECT_EQ(view.shown[0].reading, "16000000");
    EXPECT_EQ(view.shown[0].load, "---");  // the failure value is no reading to convert
    EXPECT_EQ(Requests(1, 4), 0u);

    Tick({true, false, false, false});
    EXPECT_FALSE(view.shown[0].failed);
    EXPECT_EQ(view.shown[0].reading, "5000");
    EXPECT_EQ(view.shown[0].tare, "0,500");
    EXPECT_EQ(view.shown[0].index, "2,000");
    EXPECT_EQ(view.shown[0].load, "1999,500");
    EXPECT_EQ(view.showCount, (std::array<int, 4>{2, 0, 0, 0}));
}

TEST_F(CalibrationOpsTest, TickWithAZeroIndexShowsNoLoad) {
    settings["IDC1"] = "0";
    AddPlate(1, {5000});
    Ops();
    Tick({true, false, false, false});
    Tick({true, false, false, false});
    EXPECT_EQ(view.shown[0].reading, "5000");
    EXPECT_EQ(view.shown[0].index, "0,000");
    EXPECT_EQ(view.shown[0].load, "---");
}

TEST_F(CalibrationOpsTest, FirstActivationOpensTickedPlatesOnlyOnce) {
    AddPlate(1, {5000});
    settings["Porta2"] = "/dev/kelvaro-no-such-port";
    Ops();

    ops->Activate({true, true, false, false});
    Settle();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.Last().text, "Falha ao Conectar a Placa 2, favor verificar a Comunicação.");
    EXPECT_EQ(dialogs.Last().title, "Placa 2 - Comunicação");
    EXPECT_TRUE(SlotConnected(state.links.Slot(1)));
    EXPECT_FALSE(firstActivation);

    CloseChannel(state.links.Slot(1));
    ops->Activate({true, true, false, false});
    EXPECT_EQ(dialogs.messages.size(), 1u);
    EXPECT_TRUE(state.links.Slot(1) == nullptr);
}

// The look for other programs holding the ports runs on a thread of its own: the ticks and
// steps return while it is held, showing nothing for its plates; a port a program holds
// without a lock is then told as one that cannot be opened.
TEST_F(CalibrationOpsTest, FirstActivationLooksForHoldersOffTheCallingThread) {
    AddPlate(1, {5000});
    const auto holder = testing::PortHoldingProgram::Start(AddPlate(2, {5000}).DevicePath());
    ASSERT_TRUE(holder);
    Ops();
    const std::thread::id caller = std::this_thread::get_id();
    std::promise<void> gate;
    const std::shared_future<void> released = gate.get_future().share();
    std::promise<std::thread::id> looker;
    ops->SetHolderLook("/proc", [&] {
        looker.set_value(std::this_thread::get_id());
        if (std::this_thread::get_id() != caller) {
            released.wait();
        }
    });

    ops->Activate({true, true, false, false});
    EXPECT_NE(looker.get_future().get(), caller);
    for (int i = 0; i < 20; ++i) {
        ops->ReadingTick({true, true, false, false});
        ASSERT_EQ(std::exchange(view.scheduled, {}), kReadingPollMs);
        ops->ContinueReading();
    }
    EXPECT_EQ(view.showCount, (std::array<int, 4>{0, 0, 0, 0}));
    EXPECT_TRUE(state.links.Slot(1) == nullptr);

    gate.set_value();
    Settle();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.Last().text, "Falha ao Conectar a Placa 2, favor verificar a Comunicação.");
    EXPECT_TRUE(SlotConnected(state.links.Slot(1)));
    EXPECT_FALSE(SlotConnected(state.links.Slot(2)));
}

TEST_F(CalibrationOpsTest, ClosingStoresTheFieldsAsTypedAndClosesEveryChannel) {
    AddPlate(1, {5000});
    Ops().Activate({true, false, false, false});
    Settle();

    ops->Close({{{true, "75", "N"}, {false, "", "kgf"}, {true, "1,5", "lbf"}, {false, "50", ""}}});

    EXPECT_EQ(Stored("check1"), "1");
    EXPECT_EQ(Stored("check2"), "0");
    EXPECT_EQ(Stored("Carga1"), "75");
    EXPECT_EQ(Stored("carga3"), "1,5");
    EXPECT_EQ(Stored("Carga2"), "");
    EXPECT_EQ(Stored("u4"), "");
    for (int plate = 1; plate <= 4; ++plate) {
        EXPECT_TRUE(state.links.Slot(plate) == nullptr);
    }
    EXPECT_TRUE(plates[0]->WaitForRequests(6, 1, 1000));  // Stop on closing
}

TEST_F(CalibrationOpsTest, AFailedSaveIsReported) {
    AddPlate(1, {5000});
    Ops();
    // A folder where the settings file should be: the store cannot be replaced.
    state.config.settingsPath = dir.File("folder");
    std::filesystem::create_directories(state.config.settingsPath + "/inner");

    ops->ToggleTare(1);

    Prepared();

    EXPECT_EQ(dialogs.Last().title, "TOVAMU - Kelvaro");
    EXPECT_EQ(dialogs.Last().icon, DialogIcon::Error);
    EXPECT_NE(dialogs.Last().text.find("configurações"), std::string::npos);
    EXPECT_EQ(view.tareCaption[0], "Remover Tara");
}

TEST(LoadFieldFilter, TakesDigitsCommaAndBackspaceOnly) {
    for (char32_t c : {U'0', U'5', U'9', U',', char32_t{8}}) {
        EXPECT_TRUE(LoadFieldAccepts(c)) << static_cast<int>(c);
    }
    for (char32_t c : {U'.', U'-', U'+', U'a', U' ', U'e', U'\u00e7', char32_t{127}}) {
        EXPECT_FALSE(LoadFieldAccepts(c)) << static_cast<int>(c);
    }
}

}  // namespace
}  // namespace kelvaro
