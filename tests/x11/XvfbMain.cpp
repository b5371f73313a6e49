// gtest main that runs the tests on a private Xvfb server, so that real X11 key events, with
// the server's own auto-repeat, reach the station. Where Xvfb cannot start the tests skip.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <QApplication>
#include <cstdlib>
#include <string>

#include "device/SerialChannel.h"

extern char** environ;

// The xcb platform brings the session bus library in, which keeps one buffer for the life of
// the process; the leak check of sanitizer builds would take it for ours.
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libdbus-1.so\n";
}

namespace {

class XvfbServer {
  public:
    XvfbServer() {
        int fds[2];
        if (pipe2(fds, O_CLOEXEC) != 0) {
            return;
        }
        const std::string fd = std::to_string(fds[1]);
        const char* argv[] = {"Xvfb",         "-displayfd", fd.c_str(), "-screen", "0",
                              "1280x1024x24", "-nolisten",  "tcp",      nullptr};
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        // The write end must survive the exec in the child: a duplicate without close-on-exec.
        posix_spawn_file_actions_adddup2(&actions, fds[1], fds[1]);
        posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
        const bool spawned = posix_spawnp(&pid_, "Xvfb", &actions, nullptr,
                                          const_cast<char* const*>(argv), environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        close(fds[1]);
        if (spawned) {
            display_ = ReadDisplay(fds[0]);
        } else {
            pid_ = -1;
        }
        close(fds[0]);
    }
    ~XvfbServer() {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
        }
    }
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    // ":N", or empty when the server did not come up.
    const std::string& Display() const { return display_; }

  private:
    static std::string ReadDisplay(int fd) {
        std::string number;
        pollfd pfd{fd, POLLIN, 0};
        char c = 0;
        while (poll(&pfd, 1, 10000) > 0 && read(fd, &c, 1) == 1 && c != '\n') {
            number += c;
        }
        return number.empty() ? std::string() : ":" + number;
    }

    pid_t pid_ = -1;
    std::string display_;
};

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (GTEST_FLAG_GET(list_tests)) {
        return RUN_ALL_TESTS();
    }
    XvfbServer server;
    if (server.Display().empty()) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    } else {
        setenv("DISPLAY", server.Display().c_str(), 1);
        setenv("QT_QPA_PLATFORM", "xcb", 1);
    }
    // The suite's plates are virtual: pseudo-terminals open as ports, as in a demonstration.
    kelvaro::AllowPseudoTerminalPorts(true);
    int result = 0;
    {
        QApplication application(argc, argv);
        result = RUN_ALL_TESTS();
    }
    return result;
}
