// Turns virtual-plate mode (pseudo-terminals open as ports) on or off for one test's scope;
// the suite's mains turn it on for everything else.
#pragma once

#include "device/SerialChannel.h"

namespace kelvaro::testing {

class PseudoTerminalPorts {
  public:
    explicit PseudoTerminalPorts(bool allowed) : was_(PseudoTerminalPortsAllowed()) {
        AllowPseudoTerminalPorts(allowed);
    }
    ~PseudoTerminalPorts() { AllowPseudoTerminalPorts(was_); }
    PseudoTerminalPorts(const PseudoTerminalPorts&) = delete;
    PseudoTerminalPorts& operator=(const PseudoTerminalPorts&) = delete;

  private:
    bool was_;
};

}  // namespace kelvaro::testing
