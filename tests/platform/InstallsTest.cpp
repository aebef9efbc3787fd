#include "platform/Installs.h"
#include "platform/GameLauncher.h"
#include "platform/GameProcess.h"
#include "platform/Registry.h"
#include "tests/support/GTestQt.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>
#include <map>

using platform::Install;
using platform::InstallKind;

namespace {

// A home folder built from scratch, with the game put where each source
// keeps it.
class SyntheticHome {
public:
    SyntheticHome() {
        env.home = QDir(dir.path()).canonicalPath() + QStringLiteral("/home");
        env.cpuArchitecture = QStringLiteral("x86_64");
        QDir().mkpath(env.home);
    }
    QString Home(const QString& rel) const { return env.home + QLatin1Char('/') + rel; }
    void Write(const QString& path, const QByteArray& bytes, bool executable = false) const {
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile f(path);
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        if (executable) f.setPermissions(f.permissions() | QFile::ExeOwner);
    }
    // The Windows build: System/UT2004.exe and the defaults.
    void WindowsGame(const QString& gameDir) const {
        Write(gameDir + QStringLiteral("/System/UT2004.exe"), "MZ");
        Write(gameDir + QStringLiteral("/System/Default.ini"), "[FirstRun]\r\nFirstRun=3369\r\n");
        Write(gameDir + QStringLiteral("/System/UT2004.ini"), "[FirstRun]\r\nFirstRun=3369\r\n");
    }
    // The native build: only the defaults and the Linux program in the game
    // folder, the player's files in ~/.ut2004/System.
    void NativeGame(const QString& gameDir,
                    const QString& system = QStringLiteral("System")) const {
        Write(gameDir + QLatin1Char('/') + system + QStringLiteral("/ut2004-bin-linux-amd64"),
              "\x7f"
              "ELF",
              true);
        Write(gameDir + QLatin1Char('/') + system + QStringLiteral("/Default.ini"),
              "[FirstRun]\nFirstRun=3374\n");
        Write(Home(QStringLiteral(".ut2004/System/User.ini")), "[Engine.Input]\nSpace=Jump\n");
    }
    // A Wine prefix whose registry names the game, in the 64-bit view or in
    // the 32-bit one (Wow6432Node).
    void Prefix(const QString& prefix, const QString& windowsFolder, bool wow64) const {
        const QByteArray key =
            wow64 ? "[Software\\\\Wow6432Node\\\\Unreal Technology\\\\Installed Apps\\\\UT2004] 1\n"
                  : "[Software\\\\Unreal Technology\\\\Installed Apps\\\\UT2004] 1\n";
        QByteArray folder = windowsFolder.toUtf8();
        folder.replace("\\", "\\\\");
        Write(prefix + QStringLiteral("/system.reg"),
              "WINE REGISTRY Version 2\n\n" + key + "\"Folder\"=\"" + folder + "\"\n");
        QDir().mkpath(prefix + QStringLiteral("/drive_c"));
    }
    std::vector<Install> Find(const QStringList& usual = {}) const {
        return platform::FindInstalls(env, nullptr, usual);
    }

    QTemporaryDir dir;
    platform::HomeEnvironment env;
};

const Install* ByLabel(const std::vector<Install>& found, const QString& label) {
    for (const auto& i : found)
        if (i.label == label) return &i;
    return nullptr;
}

// How the Linux program finds and starts the game (Lutris, Wine prefixes,
// the native launcher, wine or Steam started from Linux); the Windows
// program finds the registry's and Steam's, and starts UT2004.exe itself.
#ifdef _WIN32
#define LINUX_HOST_ONLY() GTEST_SKIP() << "how the Linux program finds and starts the game"
#else
#define LINUX_HOST_ONLY()
#endif

TEST(InstallsTest, WinePrefixesInBothRegistryViews) {
    SyntheticHome h;
    // ~/.wine: a 32-bit installer on a 64-bit prefix wrote under Wow6432Node.
    h.Prefix(h.Home(QStringLiteral(".wine")), QStringLiteral("C:\\Games\\UT2004\\"), true);
    h.WindowsGame(h.Home(QStringLiteral(".wine/drive_c/Games/UT2004")));
    // $WINEPREFIX: the plain key.
    h.env.winePrefix = h.Home(QStringLiteral("prefixes/ut"));
    h.Prefix(h.env.winePrefix, QStringLiteral("C:\\UT2004"), false);
    h.WindowsGame(h.env.winePrefix + QStringLiteral("/drive_c/UT2004"));

    const auto found = h.Find();
    ASSERT_EQ(found.size(), 2u);
    // $WINEPREFIX is the one the player set, so it comes first.
    EXPECT_EQ(found[0].label, QStringLiteral("Wine prefix ~/prefixes/ut"));
    EXPECT_EQ(found[0].gameDir, h.env.winePrefix + QStringLiteral("/drive_c/UT2004"));
    EXPECT_EQ(found[0].prefix, h.env.winePrefix);
    EXPECT_EQ(found[1].label, QStringLiteral("Wine prefix ~/.wine"));
    EXPECT_EQ(found[1].kind, InstallKind::Wine);
    EXPECT_EQ(found[1].gameDir, h.Home(QStringLiteral(".wine/drive_c/Games/UT2004")));
    EXPECT_EQ(found[1].playerDir, found[1].gameDir + QStringLiteral("/System"));
    EXPECT_EQ(found[1].GameSystemDir(), found[1].playerDir);
}

TEST(InstallsTest, RegistryEntryOfAFolderThatIsGoneIsNotListed) {
    SyntheticHome h;
    h.Prefix(h.Home(QStringLiteral(".wine")), QStringLiteral("C:\\UT2004"), false);
    EXPECT_TRUE(h.Find().empty());
}

TEST(InstallsTest, SteamLibraryFromLibraryFoldersWithProtonPrefix) {
    SyntheticHome h;
    const QString root = h.Home(QStringLiteral(".local/share/Steam"));
    const QString lib = h.Home(QStringLiteral("Steam Library"));
    h.Write(root + QStringLiteral("/steamapps/libraryfolders.vdf"),
            "\"libraryfolders\"\n{\n\t\"0\"\n\t{\n\t\t\"path\"\t\t\"" + root.toUtf8() +
                "\"\n\t\t\"apps\"\n\t\t{\n\t\t}\n\t}\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" +
                lib.toUtf8() +
                "\"\n\t\t\"apps\"\n\t\t{\n\t\t\t\"13230\"\t\t\"2810123456\"\n\t\t}\n\t}\n}\n");
    h.WindowsGame(lib + QStringLiteral("/steamapps/common/Unreal Tournament 2004"));
    QDir().mkpath(lib + QStringLiteral("/steamapps/compatdata/13230/pfx"));
    // ~/.steam/steam is the same Steam through a link: listed once.
    QDir().mkpath(h.Home(QStringLiteral(".steam")));
    QFile::link(root, h.Home(QStringLiteral(".steam/steam")));

    const auto found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, InstallKind::Steam);
    EXPECT_EQ(found[0].label, QStringLiteral("Steam (Proton)"));
    EXPECT_EQ(found[0].gameDir, lib + QStringLiteral("/steamapps/common/Unreal Tournament 2004"));
    EXPECT_EQ(found[0].prefix, lib + QStringLiteral("/steamapps/compatdata/13230/pfx"));
    EXPECT_EQ(found[0].playerDir, found[0].gameDir + QStringLiteral("/System"));
    // The same folder typed by hand is known as the Steam copy.
    const Install typed =
        platform::InstallForFolder(found[0].gameDir + QStringLiteral("/"), h.env, {});
    EXPECT_EQ(typed.kind, InstallKind::Steam);
    EXPECT_EQ(typed.prefix, found[0].prefix);
}

// Steam for Windows: its registry's SteamPath and every library its
// libraryfolders.vdf names, backslashes escaped; no Proton prefix.
TEST(InstallsTest, SteamForWindowsFromItsPathAndLibraries) {
    SyntheticHome h;
    const QString steam = h.Home(QStringLiteral("Steam"));
    const QString lib = h.Home(QStringLiteral("D/SteamLibrary"));
    QByteArray escaped = lib.toUtf8();
    escaped.replace("/", "\\\\"); // as Windows writes D:\\SteamLibrary
    h.Write(steam + QStringLiteral("/steamapps/libraryfolders.vdf"),
            "\"libraryfolders\"\n{\n\t\"1\"\n\t{\n\t\t\"path\"\t\t\"" + escaped + "\"\n\t}\n}\n");
    h.WindowsGame(lib + QStringLiteral("/steamapps/common/Unreal Tournament 2004"));
    h.env.steamPath = steam;
    const auto found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, InstallKind::Steam);
    EXPECT_EQ(found[0].label, QStringLiteral("Steam"));
    EXPECT_EQ(found[0].gameDir, lib + QStringLiteral("/steamapps/common/Unreal Tournament 2004"));
    EXPECT_TRUE(found[0].prefix.isEmpty());
}

TEST(InstallsTest, LutrisGameConfigsAndTheGamesFolderFallback) {
    LINUX_HOST_ONLY();
    SyntheticHome h;
    const QString prefix = h.Home(QStringLiteral("Games/unreal-tournament-2004"));
    h.Write(h.Home(QStringLiteral(".config/lutris/games/unreal-tournament-2004-1700000000.yml")),
            "game:\n  exe: " + prefix.toUtf8() + "/drive_c/UT2004/System/UT2004.exe\n  prefix: " +
                prefix.toUtf8() + "\nsystem: {}\nwine:\n  version: lutris-7.2\n");
    h.WindowsGame(prefix + QStringLiteral("/drive_c/UT2004"));
    // Another game's config names no UT2004.
    h.Write(h.Home(QStringLiteral(".config/lutris/games/other-game-1700000001.yml")),
            "game:\n  exe: /x/other.exe\nwine:\n  prefix: " +
                h.Home(QStringLiteral("Games/other")).toUtf8() + "\n");

    auto found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].kind, InstallKind::Lutris);
    EXPECT_EQ(found[0].label, QStringLiteral("Lutris: unreal-tournament-2004"));
    EXPECT_EQ(found[0].gameDir, prefix + QStringLiteral("/drive_c/UT2004"));
    EXPECT_EQ(found[0].prefix, prefix);

    // Without configs, the prefixes under ~/Games are read.
    QDir(h.Home(QStringLiteral(".config/lutris"))).removeRecursively();
    h.Prefix(prefix, QStringLiteral("C:\\UT2004"), false);
    found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].label, QStringLiteral("Lutris: unreal-tournament-2004"));
    EXPECT_EQ(found[0].gameDir, prefix + QStringLiteral("/drive_c/UT2004"));
}

// The game starts under the runner its config names, when that runner is
// there; a version that is no folder name is never followed.
TEST(InstallsTest, LutrisStartsUnderTheRunnerItsConfigNames) {
    LINUX_HOST_ONLY();
    SyntheticHome h;
    const QString prefix = h.Home(QStringLiteral("Games/ut2004"));
    const QString config = h.Home(QStringLiteral(".config/lutris/games/ut2004-1700000000.yml"));
    const auto configWith = [&](const QByteArray& wine) {
        h.Write(config, "game:\n  exe: drive_c/UT2004/System/UT2004.exe\n  prefix: " +
                            prefix.toUtf8() + "\nwine:\n" + wine);
    };
    const QString runner =
        h.Home(QStringLiteral(".local/share/lutris/runners/wine/lutris-GE-8/bin/wine"));
    configWith("  version: lutris-GE-8\n");
    EXPECT_EQ(platform::LutrisWine(h.env, prefix), QString()); // not installed
    h.Write(runner, "#!/bin/sh\n", true);
    EXPECT_EQ(platform::LutrisWine(h.env, prefix), runner);
    EXPECT_EQ(platform::LutrisWine(h.env, prefix + QStringLiteral("-other")), QString());
    configWith("  version: system\n");
    EXPECT_EQ(platform::LutrisWine(h.env, prefix), QString());
    configWith("  version: ../wine/lutris-GE-8\n");
    EXPECT_EQ(platform::LutrisWine(h.env, prefix), QString());
    // No version of its own: the runner's default.
    configWith("  dxvk: true\n");
    h.Write(h.Home(QStringLiteral(".config/lutris/runners/wine.yml")),
            "wine:\n  version: lutris-GE-8\n");
    EXPECT_EQ(platform::LutrisWine(h.env, prefix), runner);
    configWith("  custom_wine_path: ~/bin/mywine\n");
    h.Write(h.Home(QStringLiteral("bin/mywine")), "#!/bin/sh\n", true);
    EXPECT_EQ(platform::LutrisWine(h.env, prefix), h.Home(QStringLiteral("bin/mywine")));

    Install i;
    i.kind = InstallKind::Lutris;
    i.gameDir = prefix + QStringLiteral("/drive_c/UT2004");
    i.prefix = prefix;
    i.wine = runner;
    h.WindowsGame(i.gameDir);
    const auto l = platform::BuildGameLaunch(i, QStringLiteral("DM-Rankin"), [](const QString&) {
        return QStringLiteral("/usr/bin/wine");
    });
    EXPECT_EQ(l.program, runner);
}

// Values as players and Lutris write them: quoted, with a comment after
// them, with quotes and backslashes escaped.
TEST(InstallsTest, LutrisValuesQuotedEscapedAndCommented) {
    LINUX_HOST_ONLY();
    SyntheticHome h;
    const QString prefix = h.Home(QStringLiteral("Games/ut 2004"));
    h.WindowsGame(prefix + QStringLiteral("/drive_c/UT \"2004\""));
    h.Write(h.Home(QStringLiteral(".config/lutris/games/ut-1700000000.yml")),
            "name: 'It''s UT2004'   # the name\n"
            "game:   # what runs\n"
            "  exe: \"drive_c/UT \\\"2004\\\"\\/System/UT2004.exe\" # relative to the prefix\n"
            "  prefix: \"~/Games/ut 2004\"   # the prefix\n");
    const auto found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].label, QStringLiteral("Lutris: It's UT2004"));
    EXPECT_EQ(found[0].prefix, prefix);
    EXPECT_EQ(found[0].gameDir, prefix + QStringLiteral("/drive_c/UT \"2004\""));
    // A plain value keeps a # that starts no comment; its comment goes.
    h.Write(h.Home(QStringLiteral(".config/lutris/games/ut-1700000000.yml")),
            "name: UT#1 # the name\ngame:\n  prefix: ~/Games/ut 2004 # the prefix\n"
            "  exe: 'drive_c/UT \"2004\"/System/UT2004.exe'\n");
    const auto plain = h.Find();
    ASSERT_EQ(plain.size(), 1u);
    EXPECT_EQ(plain[0].label, QStringLiteral("Lutris: UT#1"));
    EXPECT_EQ(plain[0].prefix, prefix);
}

TEST(InstallsTest, NativeInstallsKeepThePlayersFilesInTheHome) {
    SyntheticHome h;
    // The 3369 Linux installer's folder, among the usual ones.
    const QString old = h.Home(QStringLiteral("ut2004"));
    h.NativeGame(old);
    // The 3374 installer's default under XDG_DATA_HOME.
    h.env.xdgDataHome = h.Home(QStringLiteral("data"));
    const QString oldUnreal = h.env.xdgDataHome + QStringLiteral("/OldUnreal/UT2004");
    h.NativeGame(oldUnreal);

    const auto found = h.Find({QStringLiteral("/no/such/ut2004"), old});
    ASSERT_EQ(found.size(), 2u);
    for (const auto& i : found) {
        EXPECT_EQ(i.kind, InstallKind::Native);
        EXPECT_EQ(i.label, QStringLiteral("Native Linux"));
        EXPECT_EQ(i.playerDir, h.Home(QStringLiteral(".ut2004/System")));
        EXPECT_EQ(i.systemName, QStringLiteral("System"));
    }
    EXPECT_EQ(found[0].gameDir, old);
    EXPECT_EQ(found[1].gameDir, oldUnreal);
    EXPECT_EQ(found[1].GameSystemDir(), oldUnreal + QStringLiteral("/System"));
}

// ~/.ut2004 holds System/User.ini and System/UT2004.ini like a game folder,
// but it is the native game's folder of the player's files.
TEST(InstallsTest, TheNativePlayersFolderIsNoGameFolder) {
    SyntheticHome h;
    const QString players = h.Home(QStringLiteral(".ut2004"));
    h.Write(players + QStringLiteral("/System/User.ini"), "[Engine.Input]\nSpace=Jump\n");
    h.Write(players + QStringLiteral("/System/UT2004.ini"), "[FirstRun]\nFirstRun=3374\n");
    // Without a native install found, it is no install at all.
    EXPECT_TRUE(h.Find({players}).empty());
    for (const QString& typed : {players, players + QStringLiteral("/System"), players + QStringLiteral("/")}) {
        EXPECT_TRUE(platform::IsNativePlayerFolder(typed, h.env)) << typed.toStdString();
        EXPECT_TRUE(platform::InstallForFolder(typed, h.env, h.Find()).gameDir.isEmpty()) << typed.toStdString();
    }
    // With one, it is taken for that install.
    const QString game = h.Home(QStringLiteral("ut2004"));
    h.NativeGame(game);
    const auto found = h.Find({players, game});
    ASSERT_EQ(found.size(), 1u);
    for (const QString& typed : {players, players + QStringLiteral("/System")}) {
        const Install i = platform::InstallForFolder(typed, h.env, found);
        EXPECT_EQ(i.kind, InstallKind::Native);
        EXPECT_EQ(i.gameDir, game);
        EXPECT_EQ(i.playerDir, players + QStringLiteral("/System"));
    }
    // Another user's folder of that name is none of this.
    EXPECT_FALSE(platform::IsNativePlayerFolder(h.Home(QStringLiteral("other/.ut2004")), h.env));
    EXPECT_EQ(platform::InstallForFolder(game, h.env, found).gameDir, game);
}

TEST(InstallsTest, NativeInstallFoundThroughTheLauncherOnPath) {
    LINUX_HOST_ONLY();
    SyntheticHome h;
    const QString game = h.Home(QStringLiteral("opt/ut2004"));
    h.NativeGame(game);
    // A script that changes into the game's System folder.
    h.Write(h.Home(QStringLiteral("bin/ut2004")),
            "#!/bin/sh\n# start the game\ncd \"" + game.toUtf8() +
                "/System\"\nexec ./ut2004-bin-linux-amd64 \"$@\"\n",
            true);
    h.env.path = QStringLiteral("/no/such/bin:") + h.Home(QStringLiteral("bin"));
    auto found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].gameDir, game);
    EXPECT_EQ(found[0].kind, InstallKind::Native);

    // A symlink to the program in the game folder.
    QFile::remove(h.Home(QStringLiteral("bin/ut2004")));
    QFile::link(game + QStringLiteral("/System/ut2004-bin-linux-amd64"),
                h.Home(QStringLiteral("bin/ut2004")));
    found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].gameDir, game);

    // A script that runs the program by its full path, written with $HOME.
    QFile::remove(h.Home(QStringLiteral("bin/ut2004")));
    h.Write(h.Home(QStringLiteral("bin/ut2004")),
            "#!/bin/bash\nexec \"$HOME/opt/ut2004/System/ut2004-bin-linux-amd64\" \"$@\"\n", true);
    found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].gameDir, game);
}

TEST(InstallsTest, Arm64UsesTheSystemArm64Folder) {
    SyntheticHome h;
    const QString game = h.Home(QStringLiteral(".local/share/OldUnreal/UT2004"));
    h.NativeGame(game, QStringLiteral("SystemARM64"));
    h.Write(game + QStringLiteral("/System/Default.ini"), "[FirstRun]\nFirstRun=3374\n");
    h.env.cpuArchitecture = QStringLiteral("arm64");
    auto found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].systemName, QStringLiteral("SystemARM64"));
    EXPECT_EQ(found[0].GameSystemDir(), game + QStringLiteral("/SystemARM64"));
    EXPECT_EQ(found[0].playerDir, h.Home(QStringLiteral(".ut2004/System")));
    h.env.cpuArchitecture = QStringLiteral("x86_64");
    found = h.Find();
    ASSERT_EQ(found.size(), 1u);
    EXPECT_EQ(found[0].systemName, QStringLiteral("System"));
}

TEST(InstallsTest, EverySourceAtOnceListsEachFolderOnceInOrder) {
    SyntheticHome h;
    h.Prefix(h.Home(QStringLiteral(".wine")), QStringLiteral("C:\\UT2004"), false);
    h.WindowsGame(h.Home(QStringLiteral(".wine/drive_c/UT2004")));
    h.NativeGame(h.Home(QStringLiteral(".local/share/OldUnreal/UT2004")));
    const QString steam = h.Home(QStringLiteral(".local/share/Steam"));
    h.WindowsGame(steam + QStringLiteral("/steamapps/common/Unreal Tournament 2004"));
    // The same ~/.wine also named as $WINEPREFIX.
    h.env.winePrefix = h.Home(QStringLiteral(".wine"));
    const auto found = h.Find();
    QStringList labels;
    for (const auto& i : found)
        labels << i.label;
    EXPECT_EQ(labels, (QStringList{QStringLiteral("Steam (Proton)"), QStringLiteral("Native Linux"),
                                   QStringLiteral("Wine prefix ~/.wine")}));
    EXPECT_NE(ByLabel(found, QStringLiteral("Steam (Proton)")), nullptr);
}

TEST(InstallsTest, BuildAndKindInWords) {
#ifdef _WIN32
    EXPECT_EQ(platform::BuildInWords(3374, InstallKind::Steam), QStringLiteral("UT2004 3374, Steam"));
#else
    EXPECT_EQ(platform::BuildInWords(3369, InstallKind::Native),
              QStringLiteral("UT2004 3369, native Linux"));
    EXPECT_EQ(platform::BuildInWords(3374, InstallKind::Steam),
              QStringLiteral("UT2004 3374 under Proton (Steam)"));
#endif
    EXPECT_EQ(platform::BuildInWords(3186, InstallKind::Windows),
              QStringLiteral("UT2004 3186, Windows"));
    EXPECT_EQ(platform::BuildInWords(0, InstallKind::Folder), QStringLiteral("UT2004"));
    for (auto k : {InstallKind::Folder, InstallKind::Windows, InstallKind::Wine,
                   InstallKind::Lutris, InstallKind::Steam, InstallKind::Native})
        EXPECT_EQ(platform::KindFromKey(platform::KindKey(k)), k);
}

auto Finder(std::map<QString, QString> programs) {
    return [programs](const QString& name) {
        auto it = programs.find(name);
        return it == programs.end() ? QString() : it->second;
    };
}

TEST(InstallsTest, EachKindStartsTheGameItsOwnWay) {
    LINUX_HOST_ONLY();
    SyntheticHome h;
    const QString game = h.Home(QStringLiteral("game"));
    h.WindowsGame(game);
    Install i;
    i.gameDir = game;
    const QString system = game + QStringLiteral("/System/");
    const QString params = QStringLiteral("DM-Rankin.ut2?NumBots=4");
    const auto tools = Finder({{QStringLiteral("wine"), QStringLiteral("/usr/bin/wine")},
                               {QStringLiteral("steam"), QStringLiteral("/usr/games/steam")}});

    i.kind = InstallKind::Steam;
    auto l = platform::BuildGameLaunch(i, params, tools);
    EXPECT_EQ(l.program, QStringLiteral("/usr/games/steam"));
    EXPECT_EQ(l.arguments,
              (QStringList{QStringLiteral("-applaunch"), QStringLiteral("13230"), params}));
    l = platform::BuildGameLaunch(i, params, Finder({}));
    EXPECT_TRUE(l.program.isEmpty());
    EXPECT_EQ(
        l.problem,
        QStringLiteral(
            "This copy of UT2004 starts through Steam, and the steam program was not found."));

    for (auto kind : {InstallKind::Wine, InstallKind::Lutris}) {
        i.kind = kind;
        i.prefix = h.Home(QStringLiteral("Games/ut"));
        l = platform::BuildGameLaunch(i, params, tools);
        EXPECT_EQ(l.program, QStringLiteral("/usr/bin/wine"));
        EXPECT_EQ(l.arguments, (QStringList{system + QStringLiteral("UT2004.exe"), params}));
        EXPECT_EQ(l.environment, QStringList{QStringLiteral("WINEPREFIX=") + i.prefix});
        EXPECT_EQ(l.workingDirectory, system);
    }

    i.kind = InstallKind::Windows;
    l = platform::BuildGameLaunch(i, params, tools);
    EXPECT_EQ(l.program, system + QStringLiteral("UT2004.exe"));
    EXPECT_EQ(l.arguments, QStringList{params});

    // Native: the installer's launcher in the game folder, else the program
    // that fits the machine.
    const QString native = h.Home(QStringLiteral("native"));
    h.NativeGame(native);
    h.Write(native + QStringLiteral("/System/ut2004-bin"),
            "\x7f"
            "ELF",
            true);
    i = Install{};
    i.kind = InstallKind::Native;
    i.gameDir = native;
    l = platform::BuildGameLaunch(i, params, tools);
    EXPECT_EQ(l.program, native + QStringLiteral("/System/ut2004-bin-linux-amd64"));
    EXPECT_EQ(l.arguments, QStringList{params});
    EXPECT_EQ(l.workingDirectory, native + QStringLiteral("/System/"));
    h.Write(native + QStringLiteral("/ut2004"), "#!/bin/sh\n", true);
    l = platform::BuildGameLaunch(i, params, tools);
    EXPECT_EQ(l.program, native + QStringLiteral("/ut2004"));
    i.gameDir = h.Home(QStringLiteral("empty"));
    l = platform::BuildGameLaunch(i, params, tools);
    EXPECT_TRUE(l.program.isEmpty());
    EXPECT_FALSE(l.problem.isEmpty());
}

// A start through Steam may leave the Steam client running for hours: it is
// not the game, and saves must not ask about it. Wine becomes the game.
TEST(InstallsTest, AStartThroughSteamIsNotTakenForTheGame) {
    LINUX_HOST_ONLY();
    SyntheticHome h;
    const QString game = h.Home(QStringLiteral("game"));
    h.WindowsGame(game);
    const QString standIn = h.Home(QStringLiteral("bin/client"));
    h.Write(standIn, "#!/bin/sh\nexec sleep 3\n", true);
    const auto tools = Finder({{QStringLiteral("wine"), standIn}, {QStringLiteral("steam"), standIn}});
    Install i;
    i.gameDir = game;
    auto startedCount = [] {
        int n = 0;
        for (const auto& g : platform::RunningGameProcesses(QStringLiteral("/nonexistent-game-folder")))
            n += g.program == QStringLiteral("(started from Instant Action)") ? 1 : 0;
        return n;
    };
    const int before = startedCount();
    i.kind = InstallKind::Steam;
    QString problem;
    ASSERT_TRUE(platform::StartGame(platform::BuildGameLaunch(i, QStringLiteral("DM-Rankin"), tools), &problem));
    EXPECT_EQ(startedCount(), before);
    i.kind = InstallKind::Wine;
    ASSERT_TRUE(platform::StartGame(platform::BuildGameLaunch(i, QStringLiteral("DM-Rankin"), tools), &problem));
    EXPECT_EQ(startedCount(), before + 1);
    QThread::msleep(300); // the stand-ins read their script before its folder goes
}

} // namespace

// Under Wine the game shows the Windows path of UT2004.exe; it is this
// install's game only when that path leads into its folder.
TEST(InstallsTest, AWindowsGamePathCountsOnlyInsideThisGameFolder) {
    LINUX_HOST_ONLY();
    SyntheticHome h;
    const QString prefix = h.Home(QStringLiteral("pfx"));
    const QString game = prefix + QStringLiteral("/drive_c/Games/UT2004");
    h.WindowsGame(game);
    const QString other = h.Home(QStringLiteral("other/pfx"));
    h.WindowsGame(other + QStringLiteral("/drive_c/Games/UT2004"));
    const QString disk = h.Home(QStringLiteral("mnt/disk"));
    h.WindowsGame(disk + QStringLiteral("/UT2004"));
    QDir().mkpath(prefix + QStringLiteral("/dosdevices"));
    ASSERT_TRUE(QFile::link(QStringLiteral("../drive_c"), prefix + QStringLiteral("/dosdevices/c:")));
    ASSERT_TRUE(QFile::link(disk, prefix + QStringLiteral("/dosdevices/d:")));
    QString zPath = game + QStringLiteral("/System/UT2004.exe");
    zPath.replace(QLatin1Char('/'), QLatin1Char('\\'));
    const QString c = QStringLiteral("C:\\Games\\UT2004\\System\\UT2004.exe");
    using platform::WindowsPathInFolder;
    EXPECT_TRUE(WindowsPathInFolder(c, game, prefix));
    EXPECT_TRUE(WindowsPathInFolder(QStringLiteral("Z:") + zPath, game, prefix));
    EXPECT_TRUE(WindowsPathInFolder(QStringLiteral("Z:") + zPath, game, {}));
    EXPECT_FALSE(WindowsPathInFolder(QStringLiteral("C:\\Other\\UT2004\\System\\UT2004.exe"), game, prefix));
    EXPECT_FALSE(WindowsPathInFolder(c, game, other)); // the same place in another prefix
    EXPECT_FALSE(WindowsPathInFolder(QStringLiteral("Z:\\srv\\UT2004\\System\\UT2004.exe"), game, prefix));
    // Another drive follows its dosdevices link.
    EXPECT_TRUE(WindowsPathInFolder(QStringLiteral("D:\\UT2004\\System\\UT2004.exe"), disk + QStringLiteral("/UT2004"), prefix));
    EXPECT_FALSE(WindowsPathInFolder(QStringLiteral("D:\\UT2004\\System\\UT2004.exe"), game, prefix));
    EXPECT_FALSE(WindowsPathInFolder(QStringLiteral("E:\\UT2004\\System\\UT2004.exe"), game, prefix));
    // C: without the link is drive_c.
    QFile::remove(prefix + QStringLiteral("/dosdevices/c:"));
    EXPECT_TRUE(WindowsPathInFolder(c, game, prefix));
    // Without a prefix, the folders above System must end the game folder.
    EXPECT_TRUE(WindowsPathInFolder(c, game, {}));
    EXPECT_TRUE(WindowsPathInFolder(QStringLiteral("c:\\games\\ut2004\\System\\UT2004.exe"), game, {}));
    EXPECT_FALSE(WindowsPathInFolder(QStringLiteral("C:\\UT2004\\System\\UT2004.exe"), game, {}));
    EXPECT_TRUE(WindowsPathInFolder(QStringLiteral("D:\\UT2004\\System\\UT2004.exe"), disk + QStringLiteral("/UT2004"), {}));
    EXPECT_FALSE(WindowsPathInFolder(QStringLiteral("D:\\UT2005\\System\\UT2004.exe"), disk + QStringLiteral("/UT2004"), {}));
    EXPECT_FALSE(WindowsPathInFolder(QStringLiteral("C:\\System\\UT2004.exe"), game, {}));
    EXPECT_FALSE(WindowsPathInFolder(QStringLiteral("UT2004.exe"), game, {}));

    // A running process as Wine shows it: its own WINEPREFIX decides.
    auto runs = [&](const QString& processPrefix) {
        QProcess p;
        auto env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("WINEPREFIX"), processPrefix);
        p.setProcessEnvironment(env);
        p.start(QStringLiteral("/bin/bash"), {QStringLiteral("-c"), QStringLiteral("exec -a \"$0\" sleep 10"), c});
        EXPECT_TRUE(p.waitForStarted());
        QThread::msleep(200); // until bash has become the stand-in
        bool found = false;
        for (const auto& g : platform::RunningGameProcesses(game, prefix)) found = found || g.pid == p.processId();
        p.kill();
        p.waitForFinished();
        return found;
    };
    EXPECT_TRUE(runs(prefix));
    EXPECT_FALSE(runs(other));
}
