// Where the lab's PostgreSQL server is and how to reach it, as kept in the station's settings
// file, and the connect options Qt's PostgreSQL driver is given for it. Never a password: libpq
// reads it from the user's ~/.pgpass or its environment.
#pragma once

#include <QString>
#include <chrono>
#include <optional>
#include <string>

#include "settings/SettingsStore.h"

namespace kelvaro {

enum class LabTls { Require, VerifyFull, Disable };

struct LabServerSettings {
    std::string host;  // a name, an address, or a socket folder
    int port = 5432;
    std::string database = "kelvaro";
    std::string user;
    LabTls tls = LabTls::Require;
    std::string caPath;  // verify-full's certificate authority

    bool Configured() const { return !host.empty() && !user.empty(); }
    bool operator==(const LabServerSettings&) const = default;
};

LabServerSettings ReadLabServerSettings(const SettingsStore& store);
void WriteLabServerSettings(SettingsStore& store, const LabServerSettings& settings);

// Why connect options cannot be made: a CA path Qt's driver would cut (it splits its options
// at ';').
enum class LabOptionsError { None, CaPathWithSemicolon, CaPathMissing };

// The driver's connect options: TLS mode and CA, the connect time-out (libpq counts whole
// seconds, 2 at least), the name the server's activity list shows, and keep-alives so that a
// connection whose peer vanished is found dead. None when the settings cannot be put in options.
std::optional<QString> LabConnectOptions(const LabServerSettings& settings,
                                         std::chrono::seconds connectTimeout,
                                         LabOptionsError* error = nullptr);

// The name the station's connections show in the server's activity list.
inline constexpr const char* kLabApplicationName = "kelvaro-estacao";

}  // namespace kelvaro
