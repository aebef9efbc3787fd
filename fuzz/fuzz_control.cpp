// An update control file as the client reads it: every section and key it
// asks for, the file sections a count names, versions and dates.
#include "fuzz/FuzzScratch.h"
#include "ini/IniFile.h"
#include "update/UpdateLogic.h"

#include <QString>

namespace {

const char* const kKeys[][2] = {
    {"update", "signature"},    {"update", "descr"},
    {"update", "date"},         {"update", "time"},
    {"update", "localversion"}, {"update", "unconditional"},
    {"update", "newversion"},   {"update", "sha256"},
    {"application", "appname"}, {"application", "appcomps"},
    {"action", "msg"},          {"action", "htmldlg"},
    {"action", "runbefore"},    {"action", "query"},
    {"action", "showURL"},      {"action", "updateURL"},
    {"action", "runafter"},     {"custom", "validatemsg"},
    {"custom", "processparam"}, {"whatsnew", "file"},
    {"whatsnew", "caption"},    {"eula", "file"},
    {"eula", "accept"},         {"eula", "notaccept"},
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::WriteInput("control.inf", data, size);
    try {
        ini::TIniFile c(path);
        (void)c.ReadSectionNames();
        for (const auto& k : kKeys)
            (void)c.ReadText(k[0], k[1], "");
        (void)c.ReadNumber("application", "appupdate", 0);
        (void)c.ReadNumber("update", "newsize", 0);
        (void)c.ReadNumber("update", "newchecksum", -1);
        const QString version = QString::fromStdString(c.ReadText("update", "newversion", ""));
        (void)update::ParseVersionString(version);
        (void)update::ParseDateTime(QString::fromStdString(c.ReadText("update", "date", "")),
                                    QString::fromStdString(c.ReadText("update", "time", "")),
                                    QStringLiteral("dd/mm/yyyy"), QLatin1Char('/'),
                                    QStringLiteral("hh:nn"), QLatin1Char(':'));
        const int count = c.ReadNumber("files", "count", 0);
        for (int i = 1; i <= count && i <= 64; ++i) {
            const std::string section = "file" + std::to_string(i);
            for (const char* key :
                 {"url", "localversion", "newversion", "date", "time", "targetdir", "sha256"})
                (void)c.ReadText(section, key, "");
            (void)c.ReadNumber(section, "newsize", 0);
            (void)c.ReadNumber(section, "compressed", 0);
        }
    } catch (const ini::EIniFileException&) {
        // An unreadable file is an answer, not a fault.
    }
    return 0;
}
