// The settings store's save under concurrency, kills and write failures, with real
// processes and a real file system.
#include <fcntl.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <thread>

#include "CaseNames.h"
#include "TempDir.h"
#include "settings/RegularFile.h"
#include "settings/SettingsStore.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

using testing::ReadFileBytes;
using testing::TempDir;
using testing::WriteFileBytes;

constexpr std::string_view D = kSettingsSection;

// Runs `body` in a child process; returns its exit status (or -1 when it did not exit).
template <typename Body>
pid_t Spawn(Body body) {
    const pid_t pid = fork();
    if (pid == 0) {
        int status = 1;
        try {
            status = body();
        } catch (...) {
        }
        _exit(status);
    }
    return pid;
}

int WaitExit(pid_t pid) {
    int status = 0;
    if (waitpid(pid, &status, 0) != pid || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// A save's failure as a child process hands it over: step, errno and file; empty when it saved.
std::string Told(const FileStatus& status) {
    if (status) {
        return {};
    }
    const FileError& e = *status.error;
    return std::to_string(static_cast<int>(e.operation)) + " " + std::to_string(e.systemError) +
           " " + e.path;
}

std::size_t TemporaryFiles(const std::filesystem::path& folder) {
    std::size_t n = 0;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) {
        n += entry.path().filename().string().find(".tmp-") != std::string::npos;
    }
    return n;
}

class SettingsFilesTest : public ::testing::Test {
  protected:
    std::string StoreFile() const { return dir_.File("Tovamu.Kelvaro.ini"); }
    TempDir dir_;
};

TEST_F(SettingsFilesTest, TwoStoresOpenAtOnceLoseNeitherOnesKeys) {
    SettingsStore communication(StoreFile());
    SettingsStore calibration(StoreFile());
    communication.WriteString(D, "Porta2", "COM4");
    calibration.WriteString(D, "carga1", "75");
    calibration.WriteString(D, "Porta2", "COM9");  // the later save wins for a shared key
    ASSERT_TRUE(communication.Close());
    ASSERT_TRUE(calibration.Close());
    SettingsStore store(StoreFile());
    EXPECT_EQ(store.ReadString(D, "Carga1", ""), "75");
    EXPECT_EQ(store.ReadString(D, "Porta2", ""), "COM9");
}

TEST_F(SettingsFilesTest, ConcurrentProcessesSavingLoseNoKey) {
    constexpr int kSaves = 200;
    const auto writer = [this](char name) {
        return [this, name] {
            for (int i = 0; i < kSaves; ++i) {
                SettingsStore store(StoreFile());
                store.WriteInteger(D, std::string(1, name) + std::to_string(i), i);
                store.WriteInteger(D, "ultimo", i);
                if (!store.Close()) {
                    return 2;
                }
            }
            return 0;
        };
    };
    const pid_t a = Spawn(writer('a'));
    const pid_t b = Spawn(writer('b'));
    ASSERT_GT(a, 0);
    ASSERT_GT(b, 0);

    // Meanwhile, every read of the file finds it whole.
    int reads = 0;
    bool anyDamaged = false;
    for (;;) {
        int status = 0;
        if (waitpid(a, &status, WNOHANG) == a) {
            EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
            EXPECT_EQ(WaitExit(b), 0);
            break;
        }
        SettingsStore reader(StoreFile());
        anyDamaged = anyDamaged || reader.WasDamaged();
        ++reads;
    }
    EXPECT_FALSE(anyDamaged);
    EXPECT_GT(reads, 0);

    SettingsStore store(StoreFile());
    EXPECT_FALSE(store.WasDamaged());
    for (int i = 0; i < kSaves; ++i) {
        EXPECT_EQ(store.ReadInteger(D, "a" + std::to_string(i), -1), i);
        EXPECT_EQ(store.ReadInteger(D, "b" + std::to_string(i), -1), i);
    }
    EXPECT_EQ(store.ReadInteger(D, "ultimo", -1), kSaves - 1);
    EXPECT_FALSE(std::filesystem::exists(StoreFile() + ".damaged"));
    EXPECT_EQ(TemporaryFiles(dir_.Path()), 0u);
}

TEST_F(SettingsFilesTest, AKillDuringASaveLeavesACompleteFile) {
    const std::string padding(48 * 1024, 'x');  // long enough for a kill to land mid-write
    const auto save = [&] {
        SettingsStore store(StoreFile());
        store.WriteInteger(D, "n", store.ReadInteger(D, "n", 0) + 1);
        store.WriteString(D, "pad", padding);
        store.WriteString(D, "fim", "1");
        return store.Close();
    };
    // Kills land anywhere within about three saves, however fast this machine is.
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < 5; ++i) {
        ASSERT_TRUE(save());
    }
    const auto saveUs = std::chrono::duration_cast<std::chrono::microseconds>(
                            std::chrono::steady_clock::now() - start)
                            .count() /
                        5;
    std::mt19937 random(7);
    std::uniform_int_distribution<long long> delayUs(0, 3 * saveUs + 50);

    int previous = 5;
    int advanced = 0;
    for (int round = 0; round < 60; ++round) {
        int ready[2];
        ASSERT_EQ(pipe(ready), 0);
        const pid_t child = Spawn([&] {
            close(ready[0]);
            if (write(ready[1], "r", 1) != 1) {
                return 3;
            }
            for (;;) {
                if (!save()) {
                    return 2;
                }
            }
        });
        ASSERT_GT(child, 0);
        close(ready[1]);
        char byte = 0;
        ASSERT_EQ(read(ready[0], &byte, 1), 1);
        close(ready[0]);
        std::this_thread::sleep_for(std::chrono::microseconds(delayUs(random)));
        kill(child, SIGKILL);
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the saving child stopped by itself";

        const std::string bytes = ReadFileBytes(StoreFile());
        ASSERT_FALSE(bytes.empty()) << "round " << round;
        ASSERT_EQ(bytes.back(), '\n');
        SettingsStore store(StoreFile());
        ASSERT_FALSE(store.WasDamaged()) << "round " << round;
        ASSERT_EQ(store.ReadString(D, "pad", ""), padding);
        ASSERT_EQ(store.ReadString(D, "fim", ""), "1");
        const int n = store.ReadInteger(D, "n", -1);
        ASSERT_GE(n, previous);
        advanced += n > previous;
        previous = n;
    }
    EXPECT_GT(advanced, 0) << "no save in a child ever completed";
    // Temporary files of killed saves are swept by the next save.
    ASSERT_TRUE(save());
    EXPECT_EQ(TemporaryFiles(dir_.Path()), 0u);
}

TEST_F(SettingsFilesTest, AFullDiskFailsTheSaveAndKeepsTheOldFile) {
    const std::string old = "[Dados]\nFrequencia=100\n";
    WriteFileBytes(StoreFile(), old);
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = Spawn([&] {
        close(pipeFds[0]);
        // Files may grow only to 1 KiB in this process: writes past it fail with EFBIG,
        // like on a full disk.
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{1024, 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        SettingsStore store(StoreFile());
        store.WriteString(D, "u1", std::string(4096, 'k'));
        const std::string error = Told(store.Close());
        const ssize_t written = write(pipeFds[1], error.data(), error.size());
        return written != static_cast<ssize_t>(error.size()) ? 1 : 0;
    });
    close(pipeFds[1]);
    std::string error;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        error.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    ASSERT_EQ(WaitExit(child), 0) << "the save did not fail";
    EXPECT_EQ(error,
              Told(SystemFileError(FileOperation::SettingsWriteTemporary, EFBIG, StoreFile())));
    EXPECT_EQ(ReadFileBytes(StoreFile()), old);
    EXPECT_EQ(TemporaryFiles(dir_.Path()), 0u);
}

TEST_F(SettingsFilesTest, AnUnwritableFolderFailsTheSaveAndKeepsTheOldFile) {
    if (geteuid() == 0) {
        GTEST_SKIP() << "permissions do not stop root";
    }
    const std::string old = "[Dados]\nFrequencia=100\n";
    WriteFileBytes(StoreFile(), old);
    chmod(dir_.Path().c_str(), 0500);
    SettingsStore store(StoreFile());
    store.WriteInteger(D, "Frequencia", 200);
    const FileStatus saved = store.Close();
    chmod(dir_.Path().c_str(), 0700);
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error->operation, FileOperation::SettingsLock);
    EXPECT_EQ(saved.error->systemError, EACCES);
    EXPECT_EQ(ReadFileBytes(StoreFile()), old);
}

TEST_F(SettingsFilesTest, AFolderThatCannotExistFailsTheSave) {
    WriteFileBytes(dir_.File("arquivo"), "not a folder");
    SettingsStore store(dir_.File("arquivo/Tovamu.Kelvaro.ini"));
    store.WriteInteger(D, "Frequencia", 200);
    const FileStatus saved = store.Close();
    ASSERT_FALSE(saved);
    EXPECT_EQ(saved.error->operation, FileOperation::SettingsCreateFolder);
    EXPECT_EQ(ReadFileBytes(dir_.File("arquivo")), "not a folder");
}

struct UnreadableCase {
    const char* name;
    std::function<void(const std::string& path)> make;
    std::function<bool(const std::filesystem::path& path)> stillThere;
    std::function<FileError(const std::string& path)> failure;  // how the save fails
};

class UnreadableStore : public SettingsFilesTest,
                        public ::testing::WithParamInterface<UnreadableCase> {};

// Something that is not a regular file where the store should be reads as defaults at once
// (a FIFO would hold the station before its first window) and is not overwritten by a save.
TEST_P(UnreadableStore, ReadsDefaultsAtOnceAndIsNotOverwritten) {
    GetParam().make(StoreFile());
    int pipeFds[2];
    ASSERT_EQ(pipe(pipeFds), 0);
    const pid_t child = Spawn([&] {
        close(pipeFds[0]);
        SettingsStore store(StoreFile());
        const bool defaulted = store.ReadInteger(D, "Frequencia", 50) == 50;
        store.WriteInteger(D, "Frequencia", 200);
        const std::string error = Told(store.Close());
        const ssize_t written = write(pipeFds[1], error.data(), error.size());
        return defaulted && written == static_cast<ssize_t>(error.size()) ? 0 : 1;
    });
    close(pipeFds[1]);
    ASSERT_GT(child, 0);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    int status = 0;
    while (waitpid(child, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
            close(pipeFds[0]);
            FAIL() << "the store blocked";
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    std::string error;
    char buffer[512];
    for (ssize_t n; (n = read(pipeFds[0], buffer, sizeof buffer)) > 0;) {
        error.append(buffer, static_cast<std::size_t>(n));
    }
    close(pipeFds[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(error, Told(GetParam().failure(StoreFile())));
    EXPECT_TRUE(GetParam().stillThere(StoreFile()));
    EXPECT_EQ(TemporaryFiles(dir_.Path()), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    SettingsFiles, UnreadableStore,
    ::testing::Values(
        UnreadableCase{
            "Folder", [](const std::string& path) { std::filesystem::create_directory(path); },
            [](const std::filesystem::path& path) { return std::filesystem::is_directory(path); },
            [](const std::string& path) {
                return SystemFileError(FileOperation::SettingsReadCurrent, EISDIR, path);
            }},
        UnreadableCase{
            "Fifo", [](const std::string& path) { mkfifo(path.c_str(), 0600); },
            [](const std::filesystem::path& path) { return std::filesystem::is_fifo(path); },
            [](const std::string& path) {
                return SystemFileError(FileOperation::SettingsReadCurrent, kNotARegularFile, path);
            }},
        UnreadableCase{"FifoAtTheLock",
                       [](const std::string& path) { mkfifo((path + ".lock").c_str(), 0600); },
                       [](const std::filesystem::path& path) {
                           return std::filesystem::is_fifo(path.string() + ".lock");
                       },
                       [](const std::string& path) {
                           return SystemFileError(FileOperation::SettingsLock, kNotARegularFile,
                                                  path);
                       }}),
    [](const auto& param) { return std::string(param.param.name); });

TEST_F(SettingsFilesTest, ALockHeldTooLongFailsTheSave) {
    const std::string old = "[Dados]\nFrequencia=100\n";
    WriteFileBytes(StoreFile(), old);
    const int lockFd = open((StoreFile() + ".lock").c_str(), O_RDWR | O_CREAT, 0600);
    ASSERT_GE(lockFd, 0);
    ASSERT_EQ(flock(lockFd, LOCK_EX), 0);
    {
        SettingsStore store(StoreFile());
        store.SetLockWait(100);
        store.WriteInteger(D, "Frequencia", 200);
        const auto start = std::chrono::steady_clock::now();
        const FileStatus saved = store.Close();
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
        ASSERT_FALSE(saved);
        EXPECT_EQ(saved.error->operation, FileOperation::SettingsLock);
        EXPECT_EQ(saved.error->systemError, EWOULDBLOCK);
        EXPECT_EQ(ReadFileBytes(StoreFile()), old);
    }
    // Once the lock is free the same writes go through.
    close(lockFd);
    SettingsStore store(StoreFile());
    store.WriteInteger(D, "Frequencia", 200);
    EXPECT_TRUE(store.Close());
    EXPECT_EQ(ReadFileBytes(StoreFile()), "[Dados]\nFrequencia=200\n");
}

TEST_F(SettingsFilesTest, ASaveKeepsTheFilesPermissions) {
    WriteFileBytes(StoreFile(), "[Dados]\nFrequencia=100\n");
    chmod(StoreFile().c_str(), 0640);
    SettingsStore store(StoreFile());
    store.WriteInteger(D, "Frequencia", 200);
    ASSERT_TRUE(store.Close());
    struct stat info {};
    ASSERT_EQ(stat(StoreFile().c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);
}

}  // namespace
}  // namespace kelvaro
