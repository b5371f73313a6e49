// Serial port discovery on Linux.
//
// The plates hang on built-in serial ports, USB serial adapters or virtual COM ports. On Linux
// those are, in this order:
//   1. built-in UARTs with real hardware behind them: /sys/class/tty/ttyS<n> whose
//      device/driver exists and whose `type` file holds a port type other than 0
//      (PORT_UNKNOWN: the 8250 driver registers ttyS0..31 whether a UART answers or not);
//   2. USB serial adapters, /sys/class/tty/ttyUSB<n> with device/driver;
//   3. CDC-ACM devices, /sys/class/tty/ttyACM<n> with device/driver;
//   4. virtual plates, only when the caller names their folder (the station started for
//      them): the symbolic links in it whose target exists (a dangling link is skipped); the
//      link's own path is the port name. A folder that is not the user's own, or that others
//      may write in, is not read at all: anything placed there would be probed as a plate.
// Entries of 1-3 are listed only when their device node exists, each under its stable name:
// the link in /dev/serial/by-id/ that leads to it (adapter model and serial number), else the
// one in /dev/serial/by-path/ (the USB socket), else the device path. A ttyUSB number follows
// plug-in order, so a stored /dev/ttyUSB0 would hand one plate's calibration to another
// adapter after a re-plug or a reboot. Each group is in natural order (ttyS2 before ttyS10).
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>

#include "device/PortList.h"
#include "settings/PrivateFolder.h"

namespace kelvaro {

namespace fs = std::filesystem;

namespace {

// Natural order: runs of digits compare by value, everything else byte by byte.
bool NaturalLess(const std::string& a, const std::string& b) {
    std::size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        const bool da = std::isdigit(static_cast<unsigned char>(a[i])) != 0;
        const bool db = std::isdigit(static_cast<unsigned char>(b[j])) != 0;
        if (da && db) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && std::isdigit(static_cast<unsigned char>(a[ei])))
                ++ei;
            while (ej < b.size() && std::isdigit(static_cast<unsigned char>(b[ej])))
                ++ej;
            std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            na.erase(0, std::min(na.find_first_not_of('0'), na.size()));
            nb.erase(0, std::min(nb.find_first_not_of('0'), nb.size()));
            if (na.size() != nb.size())
                return na.size() < nb.size();
            if (na != nb)
                return na < nb;
            i = ei;
            j = ej;
            continue;
        }
        if (a[i] != b[j])
            return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]);
        ++i;
        ++j;
    }
    return a.size() - i < b.size() - j;
}

// "ttyUSB12" with prefix "ttyUSB": the prefix followed by one or more digits only.
bool HasNumberedName(const std::string& name, const std::string& prefix) {
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) {
        return false;
    }
    return std::all_of(name.begin() + static_cast<std::ptrdiff_t>(prefix.size()), name.end(),
                       [](char c) { return c >= '0' && c <= '9'; });
}

// The sysfs `type` file of a serial8250 port: nonzero when a UART was detected.
bool UartPresent(const fs::path& ttyDir) {
    std::ifstream in(ttyDir / "type");
    long type = 0;
    return static_cast<bool>(in >> type) && type != 0;
}

// Canonical device path -> the first link (in natural order) in `folder` that leads to it.
using StableLinks = std::map<std::string, std::string>;

StableLinks ReadStableLinks(const fs::path& folder) {
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (fs::is_symlink(it->symlink_status(e2))) {
            names.push_back(it->path().filename().string());
        }
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    StableLinks links;
    for (const auto& name : names) {
        const fs::path link = folder / name;
        std::error_code e2;
        const fs::path target = fs::canonical(link, e2);
        if (!e2) {
            links.emplace(target.string(), link.string());
        }
    }
    return links;
}

struct StableNames {
    StableLinks byId, byPath;
    // The stable name of the device at `devicePath`, or the device path itself.
    std::string For(const fs::path& devicePath) const {
        std::error_code ec;
        const std::string target = fs::canonical(devicePath, ec).string();
        if (!ec) {
            for (const StableLinks* links : {&byId, &byPath}) {
                if (auto it = links->find(target); it != links->end()) {
                    return it->second;
                }
            }
        }
        return devicePath.string();
    }
};

void AddSysfsGroup(const PortListRoots& roots, const StableNames& stable, const std::string& prefix,
                   bool needUart, std::vector<std::string>& out) {
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(roots.sysClassTty, ec), end; !ec && it != end;
         it.increment(ec)) {
        std::string name = it->path().filename().string();
        if (!HasNumberedName(name, prefix)) {
            continue;
        }
        const fs::path dir = it->path();
        std::error_code e2;
        if (!fs::exists(dir / "device" / "driver", e2)) {
            continue;
        }
        if (needUart && !UartPresent(dir)) {
            continue;
        }
        if (!fs::exists(fs::path(roots.dev) / name, e2)) {
            continue;
        }
        names.push_back(name);
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const auto& name : names) {
        out.push_back(stable.For(fs::path(roots.dev) / name));
    }
}

void AddVirtualPorts(const std::string& folder, std::vector<std::string>& out) {
    if (folder.empty() || !PrivateFolder(folder)) {
        return;
    }
    std::error_code ec;
    std::vector<std::string> names;
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
        std::error_code e2;
        if (!fs::is_symlink(it->symlink_status(e2))) {
            continue;
        }
        if (!fs::exists(it->path(), e2)) {  // follows the link: dangling links are skipped
            continue;
        }
        names.push_back(it->path().filename().string());
    }
    std::sort(names.begin(), names.end(), NaturalLess);
    for (const auto& name : names) {
        out.push_back((fs::path(folder) / name).string());
    }
}

}  // namespace

std::string VirtualPortFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string base = (runtime != nullptr && *runtime != '\0') ? runtime : "/tmp";
    return base + "/kelvaro-ports";
}

std::vector<std::string> ListSerialPorts(const PortListRoots& roots) {
    std::vector<std::string> out;
    try {
        const fs::path serial = fs::path(roots.dev) / "serial";
        const StableNames stable{ReadStableLinks(serial / "by-id"),
                                 ReadStableLinks(serial / "by-path")};
        AddSysfsGroup(roots, stable, "ttyS", true, out);
        AddSysfsGroup(roots, stable, "ttyUSB", false, out);
        AddSysfsGroup(roots, stable, "ttyACM", false, out);
        AddVirtualPorts(roots.virtualPorts, out);
    } catch (...) {
        // A listing never fails: whatever was found so far is the list.
    }
    return out;
}

std::string PortDisplayName(const std::string& port) {
    const fs::path path(port);
    const fs::path folder = path.parent_path();
    if (folder.parent_path().filename() != "serial") {
        return port;
    }
    std::string name = path.filename().string();
    if (folder.filename() == "by-path") {
        return name;
    }
    if (folder.filename() != "by-id") {
        return port;
    }
    // <bus>-<vendor>_<model>_<serial>-if<NN>[-port<N>], blanks written as '_'.
    if (name.rfind("usb-", 0) == 0) {
        name.erase(0, 4);
    }
    // Removes a trailing `tag` followed by one or two hex digits; returns their value or -1.
    const auto strip = [&name](const std::string& tag) {
        const std::size_t at = name.rfind(tag);
        if (at == std::string::npos) {
            return -1;
        }
        const std::string digits = name.substr(at + tag.size());
        if (digits.empty() || digits.size() > 2 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); })) {
            return -1;
        }
        name.erase(at);
        return static_cast<int>(std::stoul(digits, nullptr, 16));
    };
    strip("-port");
    const int interface = strip("-if");
    // udev writes blanks and other odd characters as '_': one blank for each run of them.
    std::string shown;
    for (char c : name) {
        if (c != '_') {
            shown += c;
        } else if (!shown.empty() && shown.back() != ' ') {
            shown += ' ';
        }
    }
    while (!shown.empty() && shown.back() == ' ') {
        shown.pop_back();
    }
    // An adapter with several ports has one interface per port: the operator counts from 1.
    if (interface > 0) {
        shown += " - porta " + std::to_string(interface + 1);
    }
    return shown;
}

}  // namespace kelvaro
