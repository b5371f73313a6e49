// The port list on fake sysfs, /dev and virtual-port trees, and the names the operator sees.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "CaseNames.h"
#include "TempDir.h"
#include "device/PortList.h"

namespace kelvaro {
namespace {

using testing::PrintTo;

namespace fs = std::filesystem;
using kelvaro::testing::TempDir;
using kelvaro::testing::WriteFileBytes;

class PortListTest : public ::testing::Test {
  protected:
    void SetUp() override {
        roots.sysClassTty = tmp.File("sys");
        roots.dev = tmp.File("dev");
        roots.virtualPorts = tmp.File("virtual ports");
        fs::create_directories(roots.sysClassTty);
        fs::create_directories(roots.dev);
        fs::create_directories(roots.virtualPorts);
        fs::permissions(roots.virtualPorts, fs::perms::owner_all);
    }
    // A tty in sysfs; `driver` adds device/driver, `type` writes the UART type file.
    void Tty(const std::string& name, bool driver, const char* type = nullptr,
             bool devNode = true) {
        fs::path dir = fs::path(roots.sysClassTty) / name;
        fs::create_directories(dir);
        if (driver)
            fs::create_directories(dir / "device" / "driver");
        if (type)
            WriteFileBytes((dir / "type").string(), type);
        if (devNode)
            WriteFileBytes(Dev(name), "");
    }
    std::string Dev(const std::string& name) { return (fs::path(roots.dev) / name).string(); }
    std::string Virtual(const std::string& name) {
        return (fs::path(roots.virtualPorts) / name).string();
    }
    // A udev link <dev>/serial/<kind>/<name> -> ../../<target>.
    std::string Stable(const std::string& kind, const std::string& name,
                       const std::string& target) {
        const fs::path folder = fs::path(roots.dev) / "serial" / kind;
        fs::create_directories(folder);
        fs::create_symlink(fs::path("../..") / target, folder / name);
        return (folder / name).string();
    }

    TempDir tmp;
    PortListRoots roots;
};

TEST_F(PortListTest, ListsRealUartsAdaptersAndVirtualPlatesInAStableOrder) {
    Tty("ttyS0", true, "4\n");
    Tty("ttyS1", true, "0\n");  // PORT_UNKNOWN: no UART behind it
    Tty("ttyS10", true, "4\n");
    Tty("ttyS2", true, "4\n");
    Tty("ttyS3", false, "4\n");  // no driver
    Tty("ttyS4", true);          // no type file
    Tty("ttyUSB10", true);
    Tty("ttyUSB2", true);
    Tty("ttyUSB3", false);
    Tty("ttyACM0", true);
    Tty("ttyACM1", true, nullptr, false);  // no device node
    Tty("tty0", true);
    Tty("ttyUSBx", true);
    Tty("console", true);
    fs::create_symlink(Dev("ttyUSB2"), Virtual("Placa 2"));
    fs::create_symlink(Dev("ttyUSB2"), Virtual("Placa 10"));
    fs::create_symlink(Dev("ttyUSB2"), Virtual("P1"));
    fs::create_symlink(Dev("gone"), Virtual("Dangling"));
    WriteFileBytes(Virtual("plain-file"), "");
    // Adapters by their stable names: by-id before by-path, the first of two by-id links in
    // natural order, links that lead elsewhere or nowhere ignored.
    const std::string usb2 =
        Stable("by-id", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0", "ttyUSB2");
    Stable("by-id", "usb-FTDI_FT232R_USB_UART_A50285BI-if00-port1", "ttyUSB2");
    Stable("by-path", "pci-0000:00:14.0-usb-0:2:1.0-port0", "ttyUSB2");
    const std::string usb10 = Stable("by-path", "pci-0000:00:14.0-usb-0:3:1.0-port0", "ttyUSB10");
    Stable("by-id", "usb-Gone_Adapter_X1-if00-port0", "ttyUSB99");
    Stable("by-id", "usb-Other_Adapter_X2-if00-port0", "ttyUSB3");

    const std::vector<std::string> expected{
        Dev("ttyS0"),  Dev("ttyS2"),       Dev("ttyS10"),       usb2, usb10, Dev("ttyACM0"),
        Virtual("P1"), Virtual("Placa 2"), Virtual("Placa 10"),
    };
    EXPECT_EQ(ListSerialPorts(roots), expected);
}

TEST_F(PortListTest, MissingRootsGiveAnEmptyList) {
    PortListRoots none{tmp.File("no-sys"), tmp.File("no-dev"), tmp.File("no-virtual")};
    EXPECT_TRUE(ListSerialPorts(none).empty());
}

struct FolderCase {
    const char* name;
    fs::perms mode;
    bool throughLink;  // the named folder is a symbolic link to the real one
    bool listed;
};

class VirtualPlateFolder : public PortListTest, public ::testing::WithParamInterface<FolderCase> {};

// Only the user's own folder that nobody else may write in is read: a link another user drops
// in a shared one would otherwise be probed and could record a simulation as a test.
TEST_P(VirtualPlateFolder, IsReadOnlyWhenNobodyElseCanWriteInIt) {
    const FolderCase& c = GetParam();
    fs::create_symlink(Dev("ttyUSB0"), Virtual("plate1"));
    Tty("ttyUSB0", false);
    fs::permissions(roots.virtualPorts, c.mode);
    if (c.throughLink) {
        fs::create_directory_symlink(roots.virtualPorts, tmp.File("link to ports"));
        roots.virtualPorts = tmp.File("link to ports");
    }
    const std::vector<std::string> expected{(fs::path(roots.virtualPorts) / "plate1").string()};
    EXPECT_EQ(ListSerialPorts(roots), c.listed ? expected : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(
    Modes, VirtualPlateFolder,
    ::testing::Values(FolderCase{"Private", fs::perms::owner_all, false, true},
                      FolderCase{"ReadableByOthers", fs::perms(0755), false, true},
                      FolderCase{"GroupWritable", fs::perms(0775), false, false},
                      FolderCase{"WorldWritable", fs::perms(0777), false, false},
                      FolderCase{"SharedLikeTmp", fs::perms(01777), false, false},
                      FolderCase{"ThroughALink", fs::perms::owner_all, true, false}),
    [](const auto& param) { return std::string(param.param.name); });

// A station not started for virtual plates names no folder: the one kelvaro-plates uses is
// not read, whatever it holds.
TEST_F(PortListTest, NoVirtualPlatesUnlessTheirFolderIsNamed) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    const std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", tmp.File("run").c_str(), 1);
    fs::create_directories(VirtualPortFolder());
    fs::permissions(tmp.File("run"), fs::perms::owner_all);
    fs::permissions(VirtualPortFolder(), fs::perms::owner_all);
    Tty("ttyUSB0", false);
    fs::create_symlink(Dev("ttyUSB0"), VirtualPortFolder() + "/plate1");
    roots.virtualPorts.clear();
    EXPECT_TRUE(ListSerialPorts(roots).empty());
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
    else
        unsetenv("XDG_RUNTIME_DIR");
}

struct DisplayCase {
    const char* name;
    std::string port;
    std::string shown;
};

class PortDisplay : public ::testing::TestWithParam<DisplayCase> {};

TEST_P(PortDisplay, NamesAdaptersByModelAndSerialNumber) {
    EXPECT_EQ(PortDisplayName(GetParam().port), GetParam().shown);
}

INSTANTIATE_TEST_SUITE_P(
    Names, PortDisplay,
    ::testing::Values(
        DisplayCase{"Ftdi", "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_A50285BI-if00-port0",
                    "FTDI FT232R USB UART A50285BI"},
        DisplayCase{
            "NoSerialNumber",
            "/dev/serial/by-id/usb-Prolific_Technology_Inc._USB-Serial_Controller-if00-port0",
            "Prolific Technology Inc. USB-Serial Controller"},
        DisplayCase{"CdcAcm", "/dev/serial/by-id/usb-Arduino__www.arduino.cc__0043_7583335-if00",
                    "Arduino www.arduino.cc 0043 7583335"},
        DisplayCase{"SecondPortOfAnAdapter",
                    "/dev/serial/by-id/usb-FTDI_Dual_RS232-HS_FT4K2Q-if01-port0",
                    "FTDI Dual RS232-HS FT4K2Q - porta 2"},
        DisplayCase{"FakeDevRoot", "/tmp/x/dev/serial/by-id/usb-QinHeng_CH340_1234-if00-port0",
                    "QinHeng CH340 1234"},
        DisplayCase{"ByPath", "/dev/serial/by-path/pci-0000:00:14.0-usb-0:2:1.0-port0",
                    "pci-0000:00:14.0-usb-0:2:1.0-port0"},
        DisplayCase{"DevicePath", "/dev/ttyUSB0", "/dev/ttyUSB0"},
        DisplayCase{"ComName", "COM3", "COM3"},
        DisplayCase{"VirtualPlate", "/run/user/1000/kelvaro-ports/plate1",
                    "/run/user/1000/kelvaro-ports/plate1"}),
    [](const auto& param) { return std::string(param.param.name); });

TEST(VirtualPortFolder, FollowsXdgRuntimeDir) {
    const char* old = std::getenv("XDG_RUNTIME_DIR");
    std::string saved = old ? old : "";
    setenv("XDG_RUNTIME_DIR", "/run/user/4242", 1);
    EXPECT_EQ(VirtualPortFolder(), "/run/user/4242/kelvaro-ports");
    setenv("XDG_RUNTIME_DIR", "", 1);
    EXPECT_EQ(VirtualPortFolder(), "/tmp/kelvaro-ports");
    unsetenv("XDG_RUNTIME_DIR");
    EXPECT_EQ(VirtualPortFolder(), "/tmp/kelvaro-ports");
    if (old)
        setenv("XDG_RUNTIME_DIR", saved.c_str(), 1);
}

}  // namespace
}  // namespace kelvaro
