#include "PortHoldingProgram.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

extern char** environ;

namespace kelvaro::testing {

PortHoldingProgram::PortHoldingProgram(const std::string& devicePath) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, devicePath.c_str(), O_RDWR | O_NOCTTY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    // Nothing of the test's own (a pseudo-terminal's master above all) goes with it: it must
    // hold the port and nothing else.
    posix_spawn_file_actions_addclosefrom_np(&actions, 3);
    char name[] = "cat";
    char* argv[] = {name, nullptr};
    pid_t pid = -1;
    // The spawn returns once the program runs, so the port is held when it returns; a device
    // that cannot be opened fails the spawn.
    if (posix_spawnp(&pid, "cat", &actions, nullptr, argv, environ) == 0) {
        pid_ = pid;
    }
    posix_spawn_file_actions_destroy(&actions);
}

std::shared_ptr<PortHoldingProgram> PortHoldingProgram::Start(const std::string& devicePath) {
    auto program = std::make_shared<PortHoldingProgram>(devicePath);
    return program->Holding() ? program : nullptr;
}

PortHoldingProgram::~PortHoldingProgram() {
    End();
}

void PortHoldingProgram::End() {
    if (pid_ > 0) {
        ::kill(pid_, SIGTERM);
        int status = 0;
        ::waitpid(pid_, &status, 0);
        pid_ = -1;
    }
}

}  // namespace kelvaro::testing
