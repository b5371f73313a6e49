// The operator's words for what a run's start-up and acquisition report in types: a failed
// start-up step, a program on a plate's port, the plates a run lost.
#pragma once

#include <string>

#include "device/PortHolders.h"
#include "run/RunStartUp.h"
#include "station/StationState.h"

namespace kelvaro {

// `before` plate `after`: "Falha ao Conectar a Placa " 3 ": ".
std::string PlateText(const char* before, int plate, const char* after);
std::string StartUpFailureText(const StartUpFailure& failure, const StationConfig& config);
// The stop's report of a program that opened an active plate's port (`holder.port` its index).
std::string PortTakenText(const PortHolder& holder, const StationConfig& config);
// One line for every plate the run lost, each beginning with a line break; empty for none.
std::string LostPlatesText(const PlateLinks& links, const StationConfig& config);

}  // namespace kelvaro
