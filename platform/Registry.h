#pragma once
#include <QString>
#include <QStringList>
#include <optional>

namespace platform {

// String values under HKEY_LOCAL_MACHINE, the one hive the program reads.
class Registry {
public:
    virtual ~Registry() = default;
    // nullopt: the key does not exist. A key without the value gives "".
    virtual std::optional<QString> ReadMachineString(const QString& key,
                                                     const QString& value) const = 0;
};

// Off Windows the game usually lives in a Wine prefix: its system.reg holds
// the HKLM keys, and a Windows path in a value is turned into the Unix path
// of the prefix's drive.
class WineRegistry final : public Registry {
public:
    explicit WineRegistry(QString prefix);
    std::optional<QString> ReadMachineString(const QString& key,
                                             const QString& value) const override;
    QString ToUnixPath(const QString& windowsPath) const;

private:
    QString prefix_;
};

#ifdef Q_OS_WIN
// The machine's own registry: the 64-bit view, then the 32-bit one
// (WOW6432Node), where a 32-bit installer writes on 64-bit Windows.
class WindowsRegistry final : public Registry {
public:
    std::optional<QString> ReadMachineString(const QString& key,
                                             const QString& value) const override;
};
#endif

// $WINEPREFIX, else ~/.wine.
QString DefaultWinePrefix();

// Native Linux installs: folders holding System/UT2004.ini, in order of preference.
QStringList NativeInstallCandidates(const QString& home);

} // namespace platform
