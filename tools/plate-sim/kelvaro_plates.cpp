// kelvaro-plates: starts 1 to 4 virtual plates on pseudo-terminals, publishes them as
// plate1..plateN in the per-user port folder, prints the port names and serves them until
// SIGINT/SIGTERM/SIGHUP. Commands on standard input steer the plates for demos.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "plate-sim/VirtualPlate.h"

namespace {

using kelvaro::sim::Fault;
using kelvaro::sim::FaultKind;
using kelvaro::sim::LoadShape;
using kelvaro::sim::PlateOptions;
using kelvaro::sim::VirtualPlate;

constexpr const char* kUsage =
    "Usage: kelvaro-plates N [options]\n"
    "Starts N (1..4) virtual measuring plates on pseudo-terminals, publishes them as\n"
    "plate1..plateN in ${XDG_RUNTIME_DIR:-/tmp}/kelvaro-ports/ and prints one port per line.\n"
    "The station uses them only when started with --virtual-plates (or\n"
    "KELVARO_VIRTUAL_PLATES=1).\n"
    "Runs until SIGINT, SIGTERM or SIGHUP, then removes its links.\n"
    "\n"
    "Options:\n"
    "  --model CODE     model code answered to Identify (default 101)\n"
    "  --load X         load in load units (default 0)\n"
    "  --zero C         raw counts with no load (default 8388608)\n"
    "  --scale C        raw counts per load unit (default 1000)\n"
    "  --noise C        peak noise in raw counts (default 0)\n"
    "  --shape S        fixed | step | jump (default fixed)\n"
    "  --counter        readings number the frames: 0, 1, 2, ...\n"
    "  --folder DIR     publish the links in DIR instead\n"
    "  --help           this text\n"
    "\n"
    "Commands on standard input, one per line (<plate> is 1..N):\n"
    "  <plate> load <x>       set the load\n"
    "  <plate> unplug         close the port as if the cable were pulled\n"
    "  <plate> silence <n>    ignore the next n requests (n <= 0: for ever)\n"
    "  <plate> speak          forget pending faults\n"
    "  <plate> drop           drop one byte of the next frame\n"
    "  <plate> checksum       send the next frame with a wrong checksum\n"
    "  <plate> garbage <n>    send the next n frames as garbage bytes (n <= 0: for ever)\n"
    "  <plate> flood          send garbage bytes at the line's rate instead of reports\n"
    "  <plate> error <code>   answer the next request with a device error\n"
    "  <plate> model <code>   change the model code\n"
    "  <plate> status         show frequency, mode, streaming and counters\n"
    "  help                   this list\n";

std::string DefaultFolder() {
    const char* runtime = std::getenv("XDG_RUNTIME_DIR");
    std::string base = runtime && *runtime ? runtime : "/tmp";
    return base + "/kelvaro-ports";
}

bool ParseNumber(const std::string& text, double& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtod(text.c_str(), &end);
    return !text.empty() && end && *end == '\0' && errno == 0;
}

bool ParseInt(const std::string& text, long& value) {
    char* end = nullptr;
    errno = 0;
    value = std::strtol(text.c_str(), &end, 0);
    return !text.empty() && end && *end == '\0' && errno == 0;
}

// Runs one command line; returns a reply for the operator.
std::string Command(const std::string& line, std::vector<std::unique_ptr<VirtualPlate>>& plates) {
    std::istringstream in(line);
    std::string first, verb, arg;
    in >> first;
    if (first.empty())
        return "";
    if (first == "help" || first == "?")
        return kUsage;
    long number = 0;
    if (!ParseInt(first, number) || number < 1 || number > static_cast<long>(plates.size())) {
        return "error: unknown plate '" + first + "' (type help)";
    }
    VirtualPlate& plate = *plates[static_cast<std::size_t>(number - 1)];
    in >> verb >> arg;
    double x = 0;
    long n = 0;
    if (verb == "load" && ParseNumber(arg, x)) {
        plate.SetLoad(x);
    } else if (verb == "unplug") {
        plate.Unplug();
    } else if (verb == "silence" || verb == "garbage") {
        if (!arg.empty() && !ParseInt(arg, n))
            return "error: " + verb + " <n>";
        plate.Inject(Fault{.kind = verb == "silence" ? FaultKind::Silence : FaultKind::Garbage,
                           .count = arg.empty() ? 1 : static_cast<int>(n)});
    } else if (verb == "speak") {
        plate.ClearFaults();
    } else if (verb == "drop") {
        plate.Inject(Fault{.kind = FaultKind::DropByte, .position = 5});
    } else if (verb == "checksum") {
        plate.Inject(Fault{.kind = FaultKind::BadChecksum});
    } else if (verb == "flood") {
        plate.Inject(Fault{.kind = FaultKind::Flood, .count = 0});
    } else if (verb == "error" && ParseInt(arg, n) && n >= 0 && n <= 255) {
        plate.Inject(Fault{.kind = FaultKind::ErrorReply, .value = static_cast<std::uint8_t>(n)});
    } else if (verb == "model" && ParseInt(arg, n) && n >= 0 && n <= 255) {
        plate.SetModelCode(static_cast<std::uint8_t>(n));
    } else if (verb == "status") {
        const auto s = plate.Stats();
        std::ostringstream o;
        o << "plate " << number << ": " << (s.plugged ? "plugged" : "unplugged") << ", frequency "
          << s.configuredFrequency << ", mode " << s.configuredMode
          << (s.streaming ? ", streaming" : ", idle") << ", reports " << s.reportsSent
          << ", dropped " << s.reportsDropped << ", garbage bytes " << s.garbageBytes;
        return o.str();
    } else {
        return "error: cannot do '" + line + "' (type help)";
    }
    return "ok";
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    PlateOptions options;
    std::string folder = DefaultFolder();
    long count = 0;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& a = args[i];
        auto value = [&](std::string& out) {
            if (i + 1 >= args.size())
                return false;
            out = args[++i];
            return true;
        };
        std::string v;
        double x = 0;
        long n = 0;
        if (a == "--help" || a == "-h") {
            std::cout << kUsage;
            return 0;
        } else if (a == "--counter") {
            options.shape = LoadShape::Counter;
        } else if (a == "--model" && value(v) && ParseInt(v, n) && n >= 0 && n <= 255) {
            options.modelCode = static_cast<std::uint8_t>(n);
        } else if (a == "--load" && value(v) && ParseNumber(v, x)) {
            options.load = x;
        } else if (a == "--zero" && value(v) && ParseNumber(v, x)) {
            options.zeroCounts = x;
        } else if (a == "--scale" && value(v) && ParseNumber(v, x)) {
            options.countsPerUnit = x;
        } else if (a == "--noise" && value(v) && ParseNumber(v, x) && x >= 0) {
            options.noiseCounts = x;
        } else if (a == "--shape" && value(v) && (v == "fixed" || v == "step" || v == "jump")) {
            options.shape = v == "fixed"  ? LoadShape::Fixed
                            : v == "step" ? LoadShape::Step
                                          : LoadShape::Jump;
            if (options.shape == LoadShape::Step && options.stepAtSample == 0)
                options.stepAtSample = 300;
        } else if (a == "--folder" && value(v) && !v.empty()) {
            folder = v;
        } else if (count == 0 && ParseInt(a, n) && n >= 1 && n <= 4) {
            count = n;
        } else {
            std::cerr << "kelvaro-plates: bad argument '" << a << "'\n\n" << kUsage;
            return 2;
        }
    }
    if (count == 0) {
        std::cerr << "kelvaro-plates: how many plates? (1..4)\n\n" << kUsage;
        return 2;
    }

    // Block the stop signals before any plate thread starts, so that every thread inherits
    // the mask and they arrive only through the signalfd.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    sigaddset(&stopSignals, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    signal(SIGPIPE, SIG_IGN);
    signal(SIGTTIN, SIG_IGN);  // in the background, reading the terminal fails instead of stopping
    const int sigFd = signalfd(-1, &stopSignals, SFD_CLOEXEC);
    if (sigFd < 0) {
        std::perror("kelvaro-plates: signalfd");
        return 1;
    }

    std::vector<std::unique_ptr<VirtualPlate>> plates;
    std::vector<std::string> links;
    for (long i = 1; i <= count; ++i) {
        auto plate = std::make_unique<VirtualPlate>(options);
        if (!plate->Ok()) {
            std::cerr << "kelvaro-plates: cannot create a pseudo-terminal\n";
            return 1;
        }
        const std::string link = plate->Publish(folder, "plate" + std::to_string(i));
        if (link.empty()) {
            std::cerr << "kelvaro-plates: cannot publish plate " << i << " in " << folder << "\n";
            return 1;
        }
        links.push_back(link);
        plates.push_back(std::move(plate));
    }
    for (const auto& l : links)
        std::cout << l << "\n";
    std::cout.flush();

    std::string pending;
    bool stdinOpen = true;
    bool stdinPaused = false;  // started in the background of a shell: try again later
    for (;;) {
        const bool readInput = stdinOpen && !stdinPaused;
        pollfd fds[2] = {{sigFd, POLLIN, 0}, {readInput ? STDIN_FILENO : -1, POLLIN, 0}};
        if (poll(fds, 2, stdinPaused ? 500 : -1) < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        if (fds[0].revents & POLLIN)
            break;  // a stop signal: the plates' destructors unlink
        stdinPaused = false;
        if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[512];
            const ssize_t n = read(STDIN_FILENO, buf, sizeof buf);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0 && errno == EIO) {  // a background job reading its terminal
                stdinPaused = true;
                continue;
            }
            if (n <= 0) {
                stdinOpen = false;  // keep serving without commands
                continue;
            }
            pending.append(buf, static_cast<std::size_t>(n));
            std::size_t nl;
            while ((nl = pending.find('\n')) != std::string::npos) {
                const std::string line = pending.substr(0, nl);
                pending.erase(0, nl + 1);
                const std::string reply = Command(line, plates);
                if (!reply.empty())
                    std::cout << reply << (reply.back() == '\n' ? "" : "\n") << std::flush;
            }
        }
    }
    plates.clear();
    close(sigFd);
    return 0;
}
