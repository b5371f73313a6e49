#include "run/RunWords.h"

namespace kelvaro {

std::string PlateText(const char* before, int plate, const char* after) {
    return std::string(before) + std::to_string(plate) + after;
}

std::string StartUpFailureText(const StartUpFailure& failure, const StationConfig& config) {
    const int n = failure.plate;
    const auto i = static_cast<std::size_t>(n - 1);
    const std::string& port = config.platePort.at(i);
    switch (failure.step) {
        case StartUpStep::Connect:
            return PlateText("Falha ao Conectar a Placa ", n, ": ") + port;
        case StartUpStep::Identify:
            return PlateText("Falha ao Identificar a Placa ", n, ": ") + port;
        case StartUpStep::Model:
            return PlateText("Falha ao Identificar a Placa ", n, ": ") + port + " (modelo " +
                   std::to_string(failure.model) + " não reconhecido)";
        case StartUpStep::Frequency:
            return "A Frequencia (" + std::to_string(config.calibrationFrequency[i]) +
                   PlateText(" Hz) utilizada na Calibração da Placa ", n, "") + "\r" +
                   "é diferente da Frequencia (" + std::to_string(config.testFrequency) +
                   ") selecionada para o teste!" + "\r" +
                   PlateText("Calibre novamente a Placa ", n, " com a Frequencia desejada.");
        case StartUpStep::Configure:
            return PlateText("Falha ao Configurar a Placa ", n, ": ") + port;
        case StartUpStep::Start:
            return PlateText("Falha ao Iniciar a Placa ", n, ": ") + port;
    }
    return {};
}

std::string PortTakenText(const PortHolder& holder, const StationConfig& config) {
    const int plate = static_cast<int>(holder.port) + 1;
    return PlateText("Outro programa abriu a porta da Placa ", plate, " (") +
           config.platePort.at(holder.port) + "): " + HolderText(holder) +
           ".\rO teste foi parado para que esse programa não tome as leituras da "
           "placa; as amostras lidas até aqui foram mantidas.";
}

std::string LostPlatesText(const PlateLinks& links, const StationConfig& config) {
    std::string text;
    for (int p = 1; p <= kPlateCount; ++p) {
        if (links.Link(p) == PlateLink::Lost) {
            text += PlateText("\rA Placa ", p, " parou de responder (porta ") +
                    config.platePort[static_cast<std::size_t>(p - 1)] + ").";
        }
    }
    return text;
}

}  // namespace kelvaro
