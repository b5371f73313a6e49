// The application error report's full stop: appended when the text's last byte sorts after
// ".", so letters, digits, ":" and accented letters (UTF-8 bytes) get one, while ".", "!",
// a blank and the other characters before "." do not.
#include "station/Dialogs.h"

#include <gtest/gtest.h>

#include <string>

namespace kelvaro {
namespace {

struct FullStopCase {
    const char* text;
    const char* shown;
};

std::ostream& operator<<(std::ostream& out, const FullStopCase& c) {
    return out << '"' << c.text << '"';
}

class ErrorReportTextTest : public ::testing::TestWithParam<FullStopCase> {};

TEST_P(ErrorReportTextTest, AppendsAFullStopAfterCharactersSortingAfterIt) {
    EXPECT_EQ(ErrorReportText(GetParam().text), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Table, ErrorReportTextTest,
    ::testing::Values(
        FullStopCase{"Placa 1 não respondeu", "Placa 1 não respondeu."},
        FullStopCase{"Porta COM3", "Porta COM3."}, FullStopCase{"Erro 12", "Erro 12."},
        FullStopCase{"Placa 2 - Porta:", "Placa 2 - Porta:."},
        FullStopCase{"Valor inválido: calibração", "Valor inválido: calibração."},
        FullStopCase{"Índice inválido até", "Índice inválido até."},
        FullStopCase{"Continuar?", "Continuar?."}, FullStopCase{"caminho/", "caminho/."},
        FullStopCase{"Z", "Z."}, FullStopCase{"0", "0."},
        // Ending at or before "." in byte order: unchanged.
        FullStopCase{"Falha na placa.", "Falha na placa."}, FullStopCase{"Atenção!", "Atenção!"},
        FullStopCase{"Texto com blank ", "Texto com blank "}, FullStopCase{"(COM3)", "(COM3)"},
        FullStopCase{"um, dois,", "um, dois,"}, FullStopCase{"traço -", "traço -"},
        FullStopCase{"...", "..."}, FullStopCase{"", ""}));

}  // namespace
}  // namespace kelvaro
