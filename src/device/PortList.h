// The serial ports a plate can hang on, under stable names, and the names the operator sees.
#pragma once

#include <string>
#include <vector>

namespace kelvaro {

struct PortListRoots {
    std::string sysClassTty = "/sys/class/tty";
    std::string dev = "/dev";
    // The folder of virtual plates' links, read only when it is the user's own and nobody
    // else may write in it; empty (the default): no virtual plates are listed.
    std::string virtualPorts;
};
// ${XDG_RUNTIME_DIR:-/tmp}/kelvaro-ports, where kelvaro-plates publishes its plates.
std::string VirtualPortFolder();
// The serial devices a plate can hang on, in a stable order. Each adapter is named by its link
// in <dev>/serial/by-id/, else in <dev>/serial/by-path/, else by its device path.
std::vector<std::string> ListSerialPorts(const PortListRoots& roots = {});
// What the operator is shown for a listed or stored port: the adapter's model and serial
// number for a by-id name ("FTDI FT232R USB UART A50285BI"), the link's own name for a
// by-path name, any other name unchanged.
std::string PortDisplayName(const std::string& port);

}  // namespace kelvaro
