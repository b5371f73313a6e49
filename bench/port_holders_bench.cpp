// Time of one look for other programs holding a port: the scan the open makes once and a run
// makes once a second. Prints the processes and descriptors it walks and the time per scan.
#include <dirent.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "device/PortHolders.h"

namespace {

// Processes whose descriptors this user can list, and their descriptors.
std::pair<int, int> Visible() {
    int processes = 0;
    int descriptors = 0;
    DIR* proc = opendir("/proc");
    if (proc == nullptr) {
        return {0, 0};
    }
    while (const dirent* e = readdir(proc)) {
        if (e->d_name[0] < '1' || e->d_name[0] > '9') {
            continue;
        }
        DIR* fds = opendir(("/proc/" + std::string(e->d_name) + "/fd").c_str());
        if (fds == nullptr) {
            continue;
        }
        ++processes;
        while (const dirent* f = readdir(fds)) {
            descriptors += f->d_name[0] != '.';
        }
        closedir(fds);
    }
    closedir(proc);
    return {processes, descriptors};
}

}  // namespace

int main(int argc, char** argv) {
    const int scans = argc > 1 ? std::max(1, std::atoi(argv[1])) : 200;
    const int master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0) {
        std::perror("pseudo-terminal");
        return 1;
    }
    const std::string port = ptsname(master);
    const std::vector<std::string> ports{port, port, port, port};  // four plates

    std::vector<double> ms;
    std::size_t found = 0;
    for (int i = 0; i < scans; ++i) {
        const auto start = std::chrono::steady_clock::now();
        found += kelvaro::FindPortHolders(ports).size();
        ms.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    std::sort(ms.begin(), ms.end());
    const auto [processes, descriptors] = Visible();
    std::printf("processes inspected: %d, descriptors: %d, holders found: %zu\n", processes,
                descriptors, found);
    std::printf(
        "scan of /proc for 4 ports, %d scans: min %.3f ms, median %.3f ms, "
        "p99 %.3f ms, max %.3f ms\n",
        scans, ms.front(), ms[ms.size() / 2], ms[ms.size() * 99 / 100], ms.back());
    close(master);
    return 0;
}
