#include "platform/Installs.h"

#include "platform/Registry.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>
#include <QSettings>
#include <QSysInfo>

namespace platform {

namespace {

const QString kFullKey = QStringLiteral("SOFTWARE\\Unreal Technology\\Installed Apps\\UT2004");
const QString kDemoKey = QStringLiteral("SOFTWARE\\Unreal Technology\\Installed Apps\\UT2004-Demo");
const QString kSteamApp = QStringLiteral("13230");

QString Clean(const QString& path) {
    return QDir::cleanPath(path);
}

QString SameFolderKey(const QString& path) {
    const QString canonical = QFileInfo(path).canonicalFilePath();
    return canonical.isEmpty() ? Clean(path) : canonical;
}

// The Linux builds name their programs ut2004-bin, ut2004-bin-linux-amd64,
// ucc-bin...; the Windows build has UT2004.exe.
bool HasNativeBinary(const QString& systemDir) {
    const QStringList names = QDir(systemDir).entryList(QDir::Files);
    for (const QString& n : names)
        if (n.startsWith(QStringLiteral("ut2004-bin"), Qt::CaseInsensitive) ||
            n.startsWith(QStringLiteral("ucc-bin"), Qt::CaseInsensitive))
            return true;
    return false;
}

bool IsNativeFolder(const QString& gameDir) {
    return HasNativeBinary(gameDir + QStringLiteral("/System")) ||
           QFileInfo(gameDir + QStringLiteral("/SystemARM64")).isDir();
}

Install Native(const QString& gameDir, const HomeEnvironment& env) {
    Install i;
    i.kind = InstallKind::Native;
    i.label = QStringLiteral("Native Linux");
    i.gameDir = Clean(gameDir);
    // The game keeps the player's files per user; its own System folder has
    // only the defaults.
    i.playerDir = Clean(env.home + QStringLiteral("/.ut2004/System"));
    const bool arm = env.Arm64() && QFileInfo(gameDir + QStringLiteral("/SystemARM64")).isDir();
    i.systemName = arm ? QStringLiteral("SystemARM64") : QStringLiteral("System");
    return i;
}

Install InFolder(InstallKind kind, const QString& label, const QString& gameDir,
                 const QString& prefix = {}) {
    Install i;
    i.kind = kind;
    i.label = label;
    i.gameDir = Clean(gameDir);
    i.playerDir = i.gameDir + QStringLiteral("/System");
    i.prefix = prefix.isEmpty() ? QString() : Clean(prefix);
    return i;
}

struct Search {
    const HomeEnvironment& env;
    const Registry* registry;
    const QStringList& usualFolders;
    std::vector<Install>& found;

    void Add(Install i, bool mustExist = true) const {
        if (i.gameDir.isEmpty() || (mustExist && !IsGameFolder(i.gameDir))) return;
        if (IsNativePlayerFolder(i.gameDir, env)) return;
        const QString key = SameFolderKey(i.gameDir);
        for (const Install& f : found)
            if (SameFolderKey(f.gameDir) == key) return;
        found.push_back(std::move(i));
    }
    // The full game first: it is what the player plays when both are there.
    // The machine's own registry is proposed as it stands, as it always was;
    // a prefix's entries only when the folder is really there.
    void FromRegistry(const Registry& reg, InstallKind kind, const QString& label,
                      const QString& prefix) const {
        for (const QString& key : {kFullKey, kDemoKey})
            if (auto folder = reg.ReadMachineString(key, QStringLiteral("Folder"));
                folder && !folder->isEmpty())
                Add(InFolder(kind, label, *folder, prefix), kind != InstallKind::Windows);
    }
};

void FromMachineRegistry(const Search& s) {
    if (s.registry)
        s.FromRegistry(*s.registry, InstallKind::Windows, QStringLiteral("Windows registry"), {});
}

// libraryfolders.vdf: "path" "<folder>" once per library, backslashes escaped.
QStringList SteamLibraries(const QString& steamRoot) {
    QStringList libs{steamRoot};
    QFile f(steamRoot + QStringLiteral("/steamapps/libraryfolders.vdf"));
    if (!f.open(QIODevice::ReadOnly)) return libs;
    static const QRegularExpression path(QStringLiteral("\"path\"\\s+\"((?:[^\"\\\\]|\\\\.)*)\""));
    const QString text = QString::fromUtf8(f.readAll());
    for (auto it = path.globalMatch(text); it.hasNext();) {
        QString p = it.next().captured(1);
        p.replace(QStringLiteral("\\\\"), QStringLiteral("\\"));
        libs << p;
    }
    return libs;
}

QString SteamInstallDir(const QString& library) {
    QFile f(library + QStringLiteral("/steamapps/appmanifest_") + kSteamApp +
            QStringLiteral(".acf"));
    if (f.open(QIODevice::ReadOnly)) {
        static const QRegularExpression dir(QStringLiteral("\"installdir\"\\s+\"([^\"]+)\""));
        if (auto m = dir.match(QString::fromUtf8(f.readAll())); m.hasMatch()) return m.captured(1);
    }
    return QStringLiteral("Unreal Tournament 2004");
}

void FromSteam(const Search& s) {
    QStringList seen;
    // Steam for Windows runs the game itself: no Proton, no prefix.
    if (!s.env.steamPath.isEmpty() && QFileInfo(s.env.steamPath).isDir())
        for (const QString& lib : SteamLibraries(QDir::cleanPath(s.env.steamPath))) {
            const QString clean =
                QDir::cleanPath(QString(lib).replace(QLatin1Char('\\'), QLatin1Char('/')));
            if (seen.contains(SameFolderKey(clean))) continue;
            seen << SameFolderKey(clean);
            s.Add(InFolder(InstallKind::Steam, QStringLiteral("Steam"),
                           clean + QStringLiteral("/steamapps/common/") + SteamInstallDir(clean),
                           {}));
        }
    if (s.env.home.isEmpty()) return;
    const QString h = s.env.home;
    for (const QString& root :
         {h + QStringLiteral("/.local/share/Steam"), h + QStringLiteral("/.steam/steam"),
          h + QStringLiteral("/.steam/root"),
          h + QStringLiteral("/.var/app/com.valvesoftware.Steam/.local/share/Steam")}) {
        if (!QFileInfo(root).isDir()) continue;
        for (const QString& lib : SteamLibraries(root)) {
            const QString key = SameFolderKey(lib);
            if (seen.contains(key)) continue;
            seen << key;
            s.Add(InFolder(InstallKind::Steam, QStringLiteral("Steam (Proton)"),
                           lib + QStringLiteral("/steamapps/common/") + SteamInstallDir(lib),
                           lib + QStringLiteral("/steamapps/compatdata/") + kSteamApp +
                               QStringLiteral("/pfx")));
        }
    }
}

// The game folder around a file or folder a launcher names: itself, or the
// folder above when it is the System folder.
QString GameFolderAround(QString path) {
    for (int up = 0; up < 3 && !path.isEmpty(); ++up) {
        if (IsGameFolder(path)) return path;
        path = QFileInfo(path).absolutePath();
    }
    return {};
}

// A `ut2004` on PATH is a symlink into the game folder, or a script that
// changes into it or runs a program from it.
QString FolderOfLauncher(const QString& launcher, const HomeEnvironment& env) {
    const QFileInfo info(launcher);
    if (info.isSymLink())
        return GameFolderAround(QFileInfo(info.canonicalFilePath()).absolutePath());
    QFile f(launcher);
    if (!f.open(QIODevice::ReadOnly)) return {};
    const QByteArray head = f.read(64 * 1024);
    if (!head.startsWith("#!")) return {};
    static const QRegularExpression step(
        QStringLiteral("^\\s*(cd|exec)\\s+(?:\"([^\"]+)\"|'([^']+)'|(\\S+))"));
    for (const QString& line : QString::fromUtf8(head).split(QLatin1Char('\n'))) {
        const auto m = step.match(line);
        if (!m.hasMatch()) continue;
        QString path = m.captured(2) + m.captured(3) + m.captured(4);
        path.replace(QStringLiteral("${HOME}"), env.home)
            .replace(QStringLiteral("$HOME"), env.home);
        if (path.startsWith(QStringLiteral("~/"))) path = env.home + path.mid(1);
        if (!path.startsWith(QLatin1Char('/'))) continue;
        if (m.captured(1) == QStringLiteral("exec")) path = QFileInfo(path).absolutePath();
        if (const QString dir = GameFolderAround(Clean(path)); !dir.isEmpty()) return dir;
    }
    return {};
}

void FromNative(const Search& s) {
    QStringList folders = s.usualFolders;
    if (!s.env.home.isEmpty()) folders << s.env.DataHome() + QStringLiteral("/OldUnreal/UT2004");
    for (const QString& dir : s.env.path.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
        const QString launcher = dir + QStringLiteral("/ut2004");
        if (QFileInfo(launcher).isFile())
            if (const QString game = FolderOfLauncher(launcher, s.env); !game.isEmpty())
                folders << game;
    }
    for (const QString& dir : folders) {
        if (!IsGameFolder(dir)) continue;
        if (IsNativeFolder(dir))
            s.Add(Native(dir, s.env));
        else // a copied Windows build, run through wine
            s.Add(InFolder(InstallKind::Folder,
                           QStringLiteral("Folder ") + WithTilde(Clean(dir), s.env.home), dir));
    }
}

void FromWinePrefixes(const Search& s) {
    QStringList prefixes;
    if (!s.env.winePrefix.isEmpty()) prefixes << s.env.winePrefix;
    if (!s.env.home.isEmpty()) prefixes << s.env.home + QStringLiteral("/.wine");
    for (const QString& prefix : prefixes) {
        const WineRegistry reg(prefix);
        s.FromRegistry(reg, InstallKind::Wine,
                       QStringLiteral("Wine prefix ") + WithTilde(Clean(prefix), s.env.home),
                       prefix);
    }
}

// Lutris keeps one YAML file per game; the prefix is under `game:` (or
// `wine:`), and the program it starts under `game: exe:`.
struct LutrisGame {
    QString name, prefix, exe;
    QString wineVersion, customWine; // the runner the config names
};

// A YAML scalar as written after `key:`: quoted ones lose their quotes and
// escapes ('' in single quotes; backslash escapes in double quotes), and a
// comment after the value (` # ...`) is no part of it.
QString YamlScalar(const QString& text) {
    const QString v = text.trimmed();
    if (v.startsWith(QLatin1Char('\''))) {
        QString out;
        for (qsizetype i = 1; i < v.size(); ++i) {
            if (v[i] != QLatin1Char('\'')) {
                out += v[i];
            } else if (i + 1 < v.size() && v[i + 1] == QLatin1Char('\'')) {
                out += QLatin1Char('\'');
                ++i;
            } else {
                return out;
            }
        }
        return out;
    }
    if (v.startsWith(QLatin1Char('"'))) {
        QString out;
        for (qsizetype i = 1; i < v.size(); ++i) {
            const QChar c = v[i];
            if (c == QLatin1Char('"')) return out;
            if (c != QLatin1Char('\\') || i + 1 >= v.size()) {
                out += c;
                continue;
            }
            const QChar e = v[++i];
            const auto hex = [&](int digits) {
                bool ok = false;
                const uint code = v.mid(i + 1, digits).toUInt(&ok, 16);
                if (!ok || v.mid(i + 1, digits).size() != digits) return;
                i += digits;
                out += QString::fromUcs4(reinterpret_cast<const char32_t*>(&code), 1);
            };
            switch (e.unicode()) {
            case 'n':
                out += QLatin1Char('\n');
                break;
            case 't':
                out += QLatin1Char('\t');
                break;
            case '0':
                out += QChar(0);
                break;
            case 'x':
                hex(2);
                break;
            case 'u':
                hex(4);
                break;
            case 'U':
                hex(8);
                break;
            default:
                out += e; // \\, \", \/ and a blank stand for themselves
            }
        }
        return out;
    }
    static const QRegularExpression comment(QStringLiteral("(^|\\s)#.*$"));
    return QString(v).remove(comment).trimmed();
}

LutrisGame ReadLutrisConfig(const QString& path) {
    LutrisGame g;
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return g;
    QString section;
    for (const QString& raw : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'))) {
        if (raw.trimmed().isEmpty() || raw.trimmed().startsWith(QLatin1Char('#'))) continue;
        const bool top = !raw.front().isSpace();
        const QString line = raw.trimmed();
        const auto colon = line.indexOf(QLatin1Char(':'));
        if (colon < 0) continue;
        const QString key = line.left(colon).trimmed();
        const QString value = YamlScalar(line.mid(colon + 1));
        if (top) {
            section = value.isEmpty() ? key : QString();
            if (key == QStringLiteral("name")) g.name = value;
            continue;
        }
        if (key == QStringLiteral("prefix") &&
            (section == QStringLiteral("game") || section == QStringLiteral("wine")) &&
            g.prefix.isEmpty())
            g.prefix = value;
        if (key == QStringLiteral("exe") && section == QStringLiteral("game")) g.exe = value;
        if (section == QStringLiteral("wine") && key == QStringLiteral("version"))
            g.wineVersion = value;
        if (section == QStringLiteral("wine") && key == QStringLiteral("custom_wine_path"))
            g.customWine = value;
    }
    if (g.name.isEmpty()) {
        // unreal-tournament-2004-1700000000.yml: the slug before the time stamp
        static const QRegularExpression stamp(QStringLiteral("-\\d+$"));
        g.name = QFileInfo(path).completeBaseName().remove(stamp);
    }
    return g;
}

QString LutrisPath(const QString& path, const QString& home) {
    return path.startsWith(QStringLiteral("~/")) ? home + path.mid(1) : path;
}

void FromLutris(const Search& s) {
    if (s.env.home.isEmpty()) return;
    const QString home = s.env.home;
    const QDir configs(home + QStringLiteral("/.config/lutris/games"));
    const QStringList files = configs.entryList({QStringLiteral("*.yml"), QStringLiteral("*.yaml")},
                                                QDir::Files, QDir::Name);
    for (const QString& file : files) {
        LutrisGame g = ReadLutrisConfig(configs.filePath(file));
        g.prefix = LutrisPath(g.prefix, home);
        if (g.prefix.isEmpty()) continue;
        const QString label = QStringLiteral("Lutris: ") + g.name;
        s.FromRegistry(WineRegistry(g.prefix), InstallKind::Lutris, label, g.prefix);
        if (g.exe.endsWith(QStringLiteral("UT2004.exe"), Qt::CaseInsensitive)) {
            QString exe =
                g.exe.startsWith(QLatin1Char('/')) ? g.exe : g.prefix + QLatin1Char('/') + g.exe;
            s.Add(InFolder(InstallKind::Lutris, label,
                           QFileInfo(QFileInfo(exe).absolutePath()).absolutePath(), g.prefix));
        }
    }
    if (!files.isEmpty()) return;
    // Without its game configs, Lutris's default place for prefixes.
    const QDir games(home + QStringLiteral("/Games"));
    for (const QString& dir : games.entryList(QDir::Dirs | QDir::NoDotAndDotDot, QDir::Name)) {
        const QString prefix = games.filePath(dir);
        if (QFileInfo::exists(prefix + QStringLiteral("/system.reg")))
            s.FromRegistry(WineRegistry(prefix), InstallKind::Lutris,
                           QStringLiteral("Lutris: ") + dir, prefix);
    }
}

} // namespace

QString LutrisWine(const HomeEnvironment& env, const QString& prefix) {
    if (env.home.isEmpty() || prefix.isEmpty()) return {};
    const QDir configs(env.home + QStringLiteral("/.config/lutris/games"));
    for (const QString& file : configs.entryList(
             {QStringLiteral("*.yml"), QStringLiteral("*.yaml")}, QDir::Files, QDir::Name)) {
        const LutrisGame g = ReadLutrisConfig(configs.filePath(file));
        if (QDir::cleanPath(LutrisPath(g.prefix, env.home)) != QDir::cleanPath(prefix)) continue;
        const auto runnable = [](const QString& path) {
            const QFileInfo f(path);
            return f.isFile() && f.isExecutable() ? f.absoluteFilePath() : QString();
        };
        if (!g.customWine.isEmpty()) return runnable(LutrisPath(g.customWine, env.home));
        // The version the game names, else the runner's own default; "system"
        // is the wine on the PATH.
        QString version = g.wineVersion;
        if (version.isEmpty()) {
            const LutrisGame runner =
                ReadLutrisConfig(env.home + QStringLiteral("/.config/lutris/runners/wine.yml"));
            version = runner.wineVersion;
        }
        // A version is a folder name under Lutris's runners, never a path.
        if (version.isEmpty() || version == QStringLiteral("system") ||
            version.contains(QLatin1Char('/')) || version.startsWith(QLatin1Char('.')))
            return {};
        return runnable(env.DataHome() + QStringLiteral("/lutris/runners/wine/") + version +
                        QStringLiteral("/bin/wine"));
    }
    return {};
}

namespace {

// The order is the order of proposal.
using Source = void (*)(const Search&);
constexpr Source kSources[] = {FromMachineRegistry, FromSteam, FromNative, FromWinePrefixes,
                               FromLutris};

} // namespace

HomeEnvironment HomeEnvironment::FromProcess() {
    HomeEnvironment e;
    e.home = QDir::homePath();
    e.xdgDataHome = qEnvironmentVariable("XDG_DATA_HOME");
    e.winePrefix = qEnvironmentVariable("WINEPREFIX");
    e.path = qEnvironmentVariable("PATH");
    e.cpuArchitecture = QSysInfo::currentCpuArchitecture();
#ifdef Q_OS_WIN
    e.steamPath = QSettings(QStringLiteral("HKEY_CURRENT_USER\\Software\\Valve\\Steam"),
                            QSettings::NativeFormat)
                      .value(QStringLiteral("SteamPath"))
                      .toString();
#endif
    return e;
}

QString HomeEnvironment::DataHome() const {
    return xdgDataHome.isEmpty() ? home + QStringLiteral("/.local/share") : xdgDataHome;
}

bool HomeEnvironment::Arm64() const {
    return cpuArchitecture == QStringLiteral("arm64") ||
           cpuArchitecture == QStringLiteral("aarch64");
}

bool IsNativePlayerFolder(const QString& dir, const HomeEnvironment& env) {
    if (dir.isEmpty() || env.home.isEmpty()) return false;
    const QString key = SameFolderKey(dir);
    const QString own = Clean(env.home + QStringLiteral("/.ut2004"));
    return key == SameFolderKey(own) || key == SameFolderKey(own + QStringLiteral("/System"));
}

QString NativePlayerFolderHint() {
    return QStringLiteral(
        "This is the folder where the native Linux UT2004 keeps your settings (User.ini and "
        "UT2004.ini), not the game.\nChoose the folder the game is installed in.");
}

bool IsGameFolder(const QString& dir) {
    if (dir.isEmpty()) return false;
    for (const QString& sys : {QStringLiteral("/System"), QStringLiteral("/SystemARM64")}) {
        const QString d = dir + sys;
        if (!QFileInfo(d).isDir()) continue;
        if (HasNativeBinary(d)) return true;
        for (const QString& file : {QStringLiteral("Default.ini"), QStringLiteral("UT2004.ini"),
                                    QStringLiteral("UT2004.exe")})
            if (QFileInfo::exists(d + QLatin1Char('/') + file)) return true;
    }
    return false;
}

namespace {

// Each kind once: how the settings file keeps it, and how the header says it.
struct KindText {
    InstallKind kind;
    const char* key;
    const char* words;
};
constexpr KindText kKindTexts[] = {
    {InstallKind::Windows, "windows", "Windows"},
    {InstallKind::Wine, "wine", "under Wine"},
    {InstallKind::Lutris, "lutris", "under Wine (Lutris)"},
    {InstallKind::Steam, "steam", "under Proton (Steam)"},
    {InstallKind::Native, "native", "native Linux"},
};

const KindText* TextOf(InstallKind kind) {
    for (const KindText& t : kKindTexts)
        if (t.kind == kind) return &t;
    return nullptr;
}

} // namespace

QString KindKey(InstallKind kind) {
    const KindText* t = TextOf(kind);
    return t ? QString::fromLatin1(t->key) : QString();
}

InstallKind KindFromKey(const QString& key) {
    for (const KindText& t : kKindTexts)
        if (key.compare(QLatin1String(t.key), Qt::CaseInsensitive) == 0) return t.kind;
    return InstallKind::Folder;
}

QString KindInWords(InstallKind kind) {
#ifdef Q_OS_WIN
    if (kind == InstallKind::Steam) return QStringLiteral("Steam"); // no Proton there
#endif
    const KindText* t = TextOf(kind);
    return t ? QString::fromLatin1(t->words) : QString();
}

KeyReading KeyReadingOf(InstallKind kind) {
    return kind == InstallKind::Native ? KeyReading::SdlKeySymbols : KeyReading::VirtualKeys;
}

QString BuildInWords(int build, InstallKind kind) {
    QString text = QStringLiteral("UT2004");
    if (build > 0) text += QLatin1Char(' ') + QString::number(build);
    const QString how = KindInWords(kind);
    if (how.isEmpty()) return text;
    // "UT2004 3369, native Linux", "UT2004 3374 under Proton (Steam)"
    return text +
           (how.startsWith(QStringLiteral("under")) ? QStringLiteral(" ") : QStringLiteral(", ")) +
           how;
}

QString WithTilde(const QString& path, const QString& home) {
    if (home.isEmpty()) return path;
    if (path == home) return QStringLiteral("~");
    if (path.startsWith(home + QLatin1Char('/'))) return QLatin1Char('~') + path.mid(home.size());
    return path;
}

std::vector<Install> FindInstalls(const HomeEnvironment& env, const Registry* machineRegistry,
                                  const QStringList& usualFolders) {
    std::vector<Install> found;
    const Search s{env, machineRegistry, usualFolders, found};
    for (Source source : kSources)
        source(s);
    return found;
}

Install InstallForFolder(const QString& gameDir, const HomeEnvironment& env,
                         const std::vector<Install>& known) {
    const QString dir = Clean(gameDir);
    // Its System folder holds a User.ini and a UT2004.ini like a game's,
    // but the game there is the native one that keeps its player's files in it.
    if (IsNativePlayerFolder(dir, env)) {
        for (const Install& i : known)
            if (i.kind == InstallKind::Native) return i;
        return {};
    }
    const QString key = SameFolderKey(dir);
    for (const Install& i : known)
        if (SameFolderKey(i.gameDir) == key) return i;
    if (IsNativeFolder(dir)) return Native(dir, env);
    if (const auto at = dir.indexOf(QStringLiteral("/steamapps/common/")); at > 0)
        return InFolder(InstallKind::Steam, QStringLiteral("Steam (Proton)"), dir,
                        dir.left(at) + QStringLiteral("/steamapps/compatdata/") + kSteamApp +
                            QStringLiteral("/pfx"));
    // Inside a Wine prefix: the folder above drive_c holds system.reg.
    for (QString up = QFileInfo(dir).absolutePath(); up.size() > 1;
         up = QFileInfo(up).absolutePath())
        if (QFileInfo(up).fileName() == QStringLiteral("drive_c")) {
            const QString prefix = QFileInfo(up).absolutePath();
            return InFolder(InstallKind::Wine,
                            QStringLiteral("Wine prefix ") + WithTilde(prefix, env.home), dir,
                            prefix);
        }
#ifdef Q_OS_WIN
    return InFolder(InstallKind::Windows, QStringLiteral("Folder ") + dir, dir);
#else
    return InFolder(InstallKind::Folder, QStringLiteral("Folder ") + WithTilde(dir, env.home), dir);
#endif
}

} // namespace platform
