#include "lab/LabServerSettings.h"

#include <QStringList>
#include <algorithm>
#include <string_view>

namespace kelvaro {
namespace {

// Keys of the station's settings file, beside the station's own.
constexpr std::string_view kHostKey = "ServidorEndereco";
constexpr std::string_view kPortKey = "ServidorPorta";
constexpr std::string_view kDatabaseKey = "ServidorBanco";
constexpr std::string_view kUserKey = "ServidorUsuario";
constexpr std::string_view kTlsKey = "ServidorTLS";
constexpr std::string_view kCaKey = "ServidorCA";

// The TLS modes as stored: libpq's own names, which the lab's IT recognises.
constexpr std::string_view kRequire = "require";
constexpr std::string_view kVerifyFull = "verify-full";
constexpr std::string_view kDisable = "disable";

std::string_view TlsName(LabTls tls) {
    switch (tls) {
        case LabTls::VerifyFull:
            return kVerifyFull;
        case LabTls::Disable:
            return kDisable;
        case LabTls::Require:
            break;
    }
    return kRequire;
}

// A value in libpq's connection-string syntax: quoted, with quotes and backslashes escaped, so
// that a path with spaces stays one value.
QString Quoted(const std::string& value) {
    QString text = QString::fromStdString(value);
    text.replace(QLatin1Char('\\'), QStringLiteral("\\\\"));
    text.replace(QLatin1Char('\''), QStringLiteral("\\'"));
    return QLatin1Char('\'') + text + QLatin1Char('\'');
}

}  // namespace

LabServerSettings ReadLabServerSettings(const SettingsStore& store) {
    LabServerSettings settings;
    settings.host = store.ReadString(kSettingsSection, kHostKey, "");
    settings.port = store.ReadInteger(kSettingsSection, kPortKey, settings.port);
    if (settings.port <= 0 || settings.port > 65535) {
        settings.port = LabServerSettings{}.port;
    }
    settings.database = store.ReadString(kSettingsSection, kDatabaseKey, settings.database);
    settings.user = store.ReadString(kSettingsSection, kUserKey, "");
    // Anything unknown reads as the default: never weaker than "require" by a typing slip.
    const std::string tls = store.ReadString(kSettingsSection, kTlsKey, kRequire);
    settings.tls = tls == kVerifyFull ? LabTls::VerifyFull
                   : tls == kDisable  ? LabTls::Disable
                                      : LabTls::Require;
    settings.caPath = store.ReadString(kSettingsSection, kCaKey, "");
    return settings;
}

void WriteLabServerSettings(SettingsStore& store, const LabServerSettings& settings) {
    store.WriteString(kSettingsSection, kHostKey, settings.host);
    store.WriteInteger(kSettingsSection, kPortKey, settings.port);
    store.WriteString(kSettingsSection, kDatabaseKey, settings.database);
    store.WriteString(kSettingsSection, kUserKey, settings.user);
    store.WriteString(kSettingsSection, kTlsKey, TlsName(settings.tls));
    store.WriteString(kSettingsSection, kCaKey, settings.caPath);
}

std::optional<QString> LabConnectOptions(const LabServerSettings& settings,
                                         std::chrono::seconds connectTimeout,
                                         LabOptionsError* error) {
    LabOptionsError ignored = LabOptionsError::None;
    LabOptionsError& why = error != nullptr ? *error : ignored;
    why = LabOptionsError::None;
    QStringList options;
    options << QStringLiteral("sslmode=%1").arg(QString::fromLatin1(TlsName(settings.tls)));
    if (settings.tls == LabTls::VerifyFull) {
        if (settings.caPath.empty()) {
            why = LabOptionsError::CaPathMissing;
            return std::nullopt;
        }
        if (settings.caPath.find(';') != std::string::npos) {
            why = LabOptionsError::CaPathWithSemicolon;
            return std::nullopt;
        }
        options << QStringLiteral("sslrootcert=") + Quoted(settings.caPath);
    }
    options << QStringLiteral("connect_timeout=%1")
                   .arg(std::max<long long>(2, static_cast<long long>(connectTimeout.count())));
    options << QStringLiteral("application_name=") + Quoted(kLabApplicationName);
    options << QStringLiteral("keepalives=1") << QStringLiteral("keepalives_idle=30")
            << QStringLiteral("keepalives_interval=10") << QStringLiteral("keepalives_count=3");
    return options.join(QLatin1Char(';'));
}

}  // namespace kelvaro
