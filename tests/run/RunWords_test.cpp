// The run's words made from its typed results, and the link states and store rows they read.
#include "run/RunWords.h"

#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "run/SampleStore.h"

namespace kelvaro {
namespace {

struct FailureCase {
    StartUpStep step;
    const char* text;
};

class StartUpFailureWords : public ::testing::TestWithParam<FailureCase> {};

TEST_P(StartUpFailureWords, AreTheOperatorsWords) {
    StationConfig config;
    config.platePort = {"P1", "P2", "P3", "P4"};
    config.calibrationFrequency = {50, 50, 100, 50};
    config.testFrequency = 60;
    const StartUpFailure failure{3, GetParam().step, {LinkError::Timeout, 0}, 99};
    EXPECT_EQ(StartUpFailureText(failure, config), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, StartUpFailureWords,
    ::testing::Values(
        FailureCase{StartUpStep::Connect, "Falha ao Conectar a Placa 3: P3"},
        FailureCase{StartUpStep::Identify, "Falha ao Identificar a Placa 3: P3"},
        FailureCase{StartUpStep::Model,
                    "Falha ao Identificar a Placa 3: P3 (modelo 99 não "
                    "reconhecido)"},
        FailureCase{StartUpStep::Frequency,
                    "A Frequencia (100 Hz) utilizada na Calibração da Placa 3\ré diferente da "
                    "Frequencia (60) selecionada para o teste!\rCalibre novamente a Placa 3 com "
                    "a Frequencia desejada."},
        FailureCase{StartUpStep::Configure, "Falha ao Configurar a Placa 3: P3"},
        FailureCase{StartUpStep::Start, "Falha ao Iniciar a Placa 3: P3"}));

// The stop closes the plates before it names the lost ones: a close must not forget a loss.
TEST(PlateLinkStates, ALossOutlivesTheCloseUntilItIsTold) {
    PlateLinks links;
    StationConfig config;
    config.platePort = {"P1", "P2", "P3", "P4"};
    links.Streams(1);
    links.Lost(2);
    links.Taken(3);
    links.Configured(4);
    for (int p = 1; p <= 3; ++p) {
        links.Closed(p);
    }
    EXPECT_EQ(links.Links(), (std::array<PlateLink, 4>{PlateLink::Closed, PlateLink::Lost,
                                                       PlateLink::Taken, PlateLink::Configured}));
    EXPECT_EQ(LostPlatesText(links, config), "\rA Placa 2 parou de responder (porta P2).");
    links.Told();
    EXPECT_EQ(links.Links(), (std::array<PlateLink, 4>{PlateLink::Closed, PlateLink::Closed,
                                                       PlateLink::Closed, PlateLink::Configured}));
    EXPECT_EQ(LostPlatesText(links, config), "");
}

// Rows taken before the calibration is known are converted with it; a cleared store converts
// nothing until it is given the next run's.
TEST(SampleStoreLoads, AreWholeOnceTheCalibrationIsKnown) {
    SampleStore store;
    store.Append({3000, 7, kMissingReading, 0});
    EXPECT_TRUE(store.Loads().empty());
    store.Convert({PlateCalibration{1000, 2, 5}, {}, {}, {}}, {true, false, true, false});
    store.Append({1000, 1, 2, 3});
    ASSERT_EQ(store.Loads().size(), 2u);
    EXPECT_EQ(store.Loads()[0][0], 995.0);
    EXPECT_EQ(store.Loads()[0][1], 7.0);
    EXPECT_TRUE(std::isnan(store.Loads()[0][2]));
    EXPECT_EQ(store.Loads()[1][0], -5.0);
    store.Clear();
    store.Append({1000, 1, 2, 3});
    EXPECT_TRUE(store.Loads().empty());
}

}  // namespace
}  // namespace kelvaro
