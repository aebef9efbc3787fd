#include "ini/IniFile.h"
#include "settings/Presets.h"
#include "settings/RenderDevices.h"
#include "settings/TUT2k4SettingsPage.h"
#include "tests/support/ControlStates.h"
#include "tests/support/PageHarness.h"
#include "tests/support/TableData.h"

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QRadioButton>
#include <QSlider>
#include <QtTest>
#include <clocale>

using settings::TUT2k4SettingsPage;
using namespace testsupport;

class UT2k4SettingsTest : public QObject {
    Q_OBJECT

    std::unique_ptr<PageHarness> h;
    std::unique_ptr<TUT2k4SettingsPage> page;

    template <class T>
    T* c(const char* name) const {
        return Find<T>(page.get(), name);
    }
    QString mainPath() const { return h->MainIniPath(); }
    QString main(const char* section, const char* key) const { return h->Main(section, key); }
    void withMain(const QByteArray& bytes) { WriteAll(mainPath(), bytes); }
    QStringList visibleDeviceGroups() const {
        QStringList out;
        for (int d = 0; d < settings::kDeviceCount; ++d)
            if (!page->DeviceGroup(d)->isHidden()) out << page->DeviceGroup(d)->objectName();
        return out;
    }

private slots:
    void initTestCase() {
#ifdef _WIN32
        std::setlocale(LC_ALL, ""); // Windows' C library starts in "C" whatever the user's locale
#endif
        QCOMPARE(QString::fromLatin1(std::localeconv()->decimal_point), QStringLiteral(","));
    }
    void init() {
        h = std::make_unique<PageHarness>();
        page = std::make_unique<TUT2k4SettingsPage>(h->ctx);
    }
    void cleanup() {
        page.reset();
        h.reset();
    }

    void has77CheckBoxesAndTheDeviceTable() {
        QCOMPARE(page->findChildren<QCheckBox*>().size(), 77);
        QCOMPARE(settings::DeviceOptions().size(), 22u);
        QCOMPARE(c<QGroupBox>("groupOpenGL")->findChildren<QCheckBox*>().size(), 10);
        QCOMPARE(c<QGroupBox>("gbPixo")->findChildren<QCheckBox*>().size(), 14);
        QCOMPARE(c<QCheckBox>("cbOpenMouseLag")->text(), QStringLiteral("Reduce mouselag"));
        QVERIFY(visibleDeviceGroups().isEmpty());
        QCOMPARE(c<QLabel>("lblVolume")->text(), QStringLiteral("Volume"));
    }

    void emptyFileLoadsTheDefaults() {
        withMain("");
        QVERIFY(page->LoadUT2k4Settings());
        QVERIFY(c<QRadioButton>("rbDirect3d")->isChecked());
        QCOMPARE(visibleDeviceGroups(), QStringList{QStringLiteral("groupDirect3d")});
        QCOMPARE(c<QComboBox>("pickScreenmode")->currentText(), QStringLiteral("640x480"));
        for (const char* list : {"pickInterface", "pickTerrain", "pickWeaponskin", "pickplayerskin", "pickworld",
                                 "pickrendermap", "picklightmap"})
            QCOMPARE(c<QComboBox>(list)->currentText(), QStringLiteral("Normal"));
        QCOMPARE(c<QLabel>("lblBright")->text(), QStringLiteral("Brightness: 0.80 (Default = 0.80)"));
        QCOMPARE(c<QLabel>("lblContrast")->text(), QStringLiteral("Contrast: 0.70 (Default = 0.70)"));
        QCOMPARE(c<QLabel>("lblGamme")->text(), QStringLiteral("Gamma: 0.80 (Default = 0.80)"));
        QCOMPARE(c<QLabel>("lblVolume")->text(), QStringLiteral("Volume: 0.25 (Default = 0.25)"));
        QVERIFY(!c<QCheckBox>("cbLighting")->isChecked());
        QVERIFY(!c<QCheckBox>("cbDynamicLights")->isChecked());
        for (const char* on : {"cbScrnFlash", "cbDecals", "cbCoronas", "cbDeco", "cbProjectors", "cbWeatherEffects",
                               "cbDefaultDriver", "cbPrecache"})
            QVERIFY2(c<QCheckBox>(on)->isChecked(), on);
        for (const char* off : {"cbEAX", "cb3dsound", "cbRevStereo", "cbLowquality", "cbDisPitch"})
            QVERIFY2(!c<QCheckBox>(off)->isChecked(), off);
        // Expected from the hand-written table, never from the page's own.
        for (const QStringList& option : TableData("render_device_options.tsv").rows)
            QVERIFY2(c<QCheckBox>(qPrintable(option[2]))->isChecked() == (option[3] == QStringLiteral("True")),
                     qPrintable(option[2]));
        const QStringList texts = {c<QLineEdit>("edtPCache")->text(), c<QLineEdit>("edtCacheSize")->text(),
                                   c<QLineEdit>("edtFPS")->text(), c<QLineEdit>("edtNetspeed")->text(),
                                   c<QLineEdit>("edtLanNetspeed")->text(), c<QLineEdit>("edtRefreshrate")->text(),
                                   c<QLineEdit>("edt9DesiredRefreshrate")->text(),
                                   c<QLineEdit>("edtPixoDesiredRefreshrate")->text()};
        QCOMPARE(texts, (QStringList{QStringLiteral("30"), QStringLiteral("32"), QStringLiteral("35"), QStringLiteral("2600"),
                                     QStringLiteral("20000"), QStringLiteral("60"), QStringLiteral("60"), QStringLiteral("60")}));
    }

    void renderDeviceChoice() {
        withMain("[Engine.Engine]\r\nRenderDevice=opengldrv.OPENGLRenderDevice\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(visibleDeviceGroups(), QStringList{QStringLiteral("groupOpenGL")});
        QVERIFY(page->SaveUT2k4Settings());
        // Untouched, the player's spelling stays.
        QCOMPARE(main("Engine.Engine", "RenderDevice"), QStringLiteral("opengldrv.OPENGLRenderDevice"));
        // A click shows that device's group only.
        c<QRadioButton>("rbPixo")->click();
        QCOMPARE(visibleDeviceGroups(), QStringList{QStringLiteral("gbPixo")});
        QVERIFY(page->UT2k4SettingsChanged());
        QVERIFY(page->SaveUT2k4Settings());
        QVERIFY(!page->UT2k4SettingsChanged());
        QCOMPARE(main("Engine.Engine", "RenderDevice"), QStringLiteral("PixoDrv.PixoRenderDevice"));
    }

    void unknownRenderDeviceIsLeftAlone() {
        withMain("[Engine.Engine]\r\nRenderDevice=SoftDrv.SoftwareRenderDevice\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        for (int d = 0; d < settings::kDeviceCount; ++d) QVERIFY(!page->DeviceRadio(d)->isChecked());
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("Engine.Engine", "RenderDevice"), QStringLiteral("SoftDrv.SoftwareRenderDevice"));
    }

    void screenModes_data() {
        QTest::addColumn<QByteArray>("stored");
        QTest::addColumn<QString>("shown");
        QTest::newRow("none: the game's start mode") << QByteArray() << QStringLiteral("640x480");
        QTest::newRow("4:3") << QByteArray("X=1024\r\nY=768") << QStringLiteral("1024x768");
        QTest::newRow("5:4") << QByteArray("X=1280\r\nY=1024") << QStringLiteral("1280x1024");
        QTest::newRow("16:9") << QByteArray("X=1920\r\nY=1080") << QStringLiteral("1920x1080");
        QTest::newRow("16:10") << QByteArray("X=1920\r\nY=1200") << QStringLiteral("1920x1200");
        QTest::newRow("4k") << QByteArray("X=3840\r\nY=2160") << QStringLiteral("3840x2160");
        QTest::newRow("width alone") << QByteArray("X=1600") << QStringLiteral("1600x900");
        QTest::newRow("unlisted, as itself") << QByteArray("X=1234\r\nY=567") << QStringLiteral("1234x567");
        QTest::newRow("negative: none") << QByteArray("X=-1\r\nY=480") << QString();
    }

    void screenModes() {
        QFETCH(QByteArray, stored);
        QFETCH(QString, shown);
        stored.replace("X=", "FullscreenViewportX=").replace("Y=", "FullscreenViewportY=");
        withMain("[WinDrv.WindowsClient]\r\n" + stored + "\r\n");
        const QByteArray before = ReadAll(mainPath());
        auto* modes = c<QComboBox>("pickScreenmode");
        modes->setCurrentIndex(1); // a reload must not keep what was picked before
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(modes->currentText(), shown);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(ReadAll(mainPath()), before);
    }

    void unlistedModeSurvivesAPresetAndAReload() {
        withMain("[WinDrv.WindowsClient]\r\nFullscreenViewportX=1234\r\nFullscreenViewportY=567\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        auto* modes = c<QComboBox>("pickScreenmode");
        modes->setCurrentIndex(modes->findText(QStringLiteral("1024x768")));
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(modes->currentText(), QStringLiteral("1234x567"));
        QCOMPARE(modes->findText(QStringLiteral("1234x567")), modes->count() - 1); // listed once, not twice
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(modes->findText(QStringLiteral("1234x567")), modes->count() - 1);
        QCOMPARE(modes->count(), 22);
    }

    void screenModeSavesBothSizesAndIgnoresTyping() {
        withMain("");
        QVERIFY(page->LoadUT2k4Settings());
        auto* modes = c<QComboBox>("pickScreenmode");
        QTest::keyClicks(modes, QStringLiteral("1"));
        QCOMPARE(modes->currentText(), QStringLiteral("640x480"));
        modes->setCurrentIndex(modes->findText(QStringLiteral("1280x1024")));
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "FullscreenViewportX"), QStringLiteral("1280"));
        QCOMPARE(main("WinDrv.WindowsClient", "FullscreenViewportY"), QStringLiteral("1024"));
        // A mode of the same width writes its height.
        modes->setCurrentIndex(modes->findText(QStringLiteral("1280x720")));
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "FullscreenViewportY"), QStringLiteral("720"));
    }

    void textureDetails() {
        withMain("[WinDrv.WindowsClient]\r\nTextureDetailWorld=Insane\r\nTextureDetailTerrain=HIGHER\r\n");
        auto* world = c<QComboBox>("pickworld");
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(world->currentIndex(), -1); // an unknown level is shown as it is
        QCOMPARE(world->currentText(), QStringLiteral("Insane"));
        QCOMPARE(c<QComboBox>("pickTerrain")->currentText(), QStringLiteral("Higher"));
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "TextureDetailWorld"), QStringLiteral("Insane"));
        QCOMPARE(main("WinDrv.WindowsClient", "TextureDetailTerrain"), QStringLiteral("HIGHER"));
        h->state.PagesLoaded = true;
        c<QComboBox>("pickInterface")->setEditText(QStringLiteral("Something"));
        QVERIFY(page->UT2k4SettingsChanged()); // typing counts
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "TextureDetailInterface"), QStringLiteral("<missing>"));
        c<QComboBox>("pickTerrain")->setCurrentIndex(4);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "TextureDetailTerrain"), QStringLiteral("UltraHigh"));
        // A reload shows the file's level, not the one typed before.
        world->setEditText(QStringLiteral("Low"));
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(world->currentText(), QStringLiteral("Insane"));
    }

    void volumeIsWrittenToBothSectionsWithADot() {
        // Only the older key: it is the fallback, and a save without edits adds nothing.
        withMain("[Engine.AmbientSound]\r\nAmbientVolume=0.75\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(c<QSlider>("tbVolume")->value(), 75);
        QCOMPARE(c<QLabel>("lblVolume")->text(), QStringLiteral("Volume: 0.75 (Default = 0.25)"));
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("ALAudio.ALAudioSubsystem", "AmbientVolume"), QStringLiteral("<missing>"));
        c<QSlider>("tbVolume")->setValue(80);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("Engine.AmbientSound", "AmbientVolume"), QStringLiteral("0.80"));
        QCOMPARE(main("ALAudio.ALAudioSubsystem", "AmbientVolume"), QStringLiteral("0.80"));
        QCOMPARE(main("WinDrv.WindowsClient", "Gamma"), QStringLiteral("<missing>"));
    }

    void audioSystemVolumeWinsAndFractionsStayUntilMoved() {
        withMain("[Engine.AmbientSound]\r\nAmbientVolume=0.25\r\n[ALAudio.ALAudioSubsystem]\r\n"
                 "AmbientVolume=0.500000\r\n[WinDrv.WindowsClient]\r\nGamma=0.579633\r\n");
        const QByteArray before = ReadAll(mainPath());
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(c<QSlider>("tbVolume")->value(), 50);
        QCOMPARE(c<QSlider>("tbGamma")->value(), 58);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(ReadAll(mainPath()), before);
        c<QSlider>("tbVolume")->setValue(40);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("Engine.AmbientSound", "AmbientVolume"), QStringLiteral("0.40"));
        QCOMPARE(main("ALAudio.ALAudioSubsystem", "AmbientVolume"), QStringLiteral("0.40"));
        QCOMPARE(main("WinDrv.WindowsClient", "Gamma"), QStringLiteral("0.579633"));
    }

    void netspeedLivesInTheUserFile() {
        withMain("[Engine.Player]\r\nConfiguredInternetSpeed=5000\r\nConfiguredLanSpeed=15000\r\n");
        WriteAll(h->UserIniPath(), "[Engine.Player]\r\nConfiguredInternetSpeed=10000\r\n");
        const QByteArray mainBefore = ReadAll(mainPath());
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(c<QLineEdit>("edtNetspeed")->text(), QStringLiteral("10000"));
        QCOMPARE(c<QLineEdit>("edtLanNetspeed")->text(), QStringLiteral("15000")); // only UT2004.ini has it
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(h->User("Engine.Player", "ConfiguredLanSpeed"), QStringLiteral("<missing>"));
        c<QLineEdit>("edtLanNetspeed")->setText(QStringLiteral("20000"));
        c<QLineEdit>("edtNetspeed")->setText(QStringLiteral("9636"));
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(h->User("Engine.Player", "ConfiguredLanSpeed"), QStringLiteral("20000"));
        QCOMPARE(h->User("Engine.Player", "ConfiguredInternetSpeed"), QStringLiteral("9636"));
        QCOMPARE(ReadAll(mainPath()), mainBefore);
    }

    void inlineCommentIsReadAndKept() {
        withMain("[OpenGLDrv.OpenGLRenderDevice]\r\nReduceMouseLag=False #False for highest stable fps.\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        auto* lag = c<QCheckBox>("cbOpenMouseLag");
        QVERIFY(!lag->isChecked());
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("OpenGLDrv.OpenGLRenderDevice", "ReduceMouseLag"),
                 QStringLiteral("False #False for highest stable fps."));
        lag->setChecked(true);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("OpenGLDrv.OpenGLRenderDevice", "ReduceMouseLag"),
                 QStringLiteral("True #False for highest stable fps."));
    }

    void invertedAndPrecachingBoxesWriteTheirOwnKeys() {
        withMain("[WinDrv.WindowsClient]\r\nNoLighting=true\r\n[D3DDrv.D3DRenderDevice]\r\nUsePrecaching=False\r\n"
                 "[ALAudio.ALAudioSubsystem]\r\nUsePrecache=1\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        QVERIFY(!c<QCheckBox>("cbLighting")->isChecked());
        QVERIFY(!c<QCheckBox>("cbPrecaching")->isChecked());
        QVERIFY(c<QCheckBox>("cbPrecache")->isChecked());
        c<QCheckBox>("cbLighting")->setChecked(true);
        c<QCheckBox>("cbPrecaching")->setChecked(true);
        c<QCheckBox>("cbPrecache")->setChecked(false);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "NoLighting"), QStringLiteral("False"));
        QCOMPARE(main("D3DDrv.D3DRenderDevice", "UsePrecaching"), QStringLiteral("True"));
        QCOMPARE(main("ALAudio.ALAudioSubsystem", "UsePrecache"), QStringLiteral("False"));
    }

    void openGlWritesCompressedLightmapsBeforeMouseLag() {
        withMain("");
        QVERIFY(page->LoadUT2k4Settings());
        for (const char* name : {"cbOpenCompressedLightmaps", "cbOpenMouseLag", "cbCompressedLightmaps", "cbMouseLag"})
            c<QCheckBox>(name)->toggle();
        c<QLineEdit>("edtRefreshrate")->setText(QStringLiteral("60 "));
        QVERIFY(page->SaveUT2k4Settings());
        const QString text = QString::fromLatin1(ReadAll(mainPath()));
        const auto gl = text.indexOf(QStringLiteral("[OpenGLDrv.OpenGLRenderDevice]"));
        const auto next = text.indexOf(QLatin1Char('['), gl + 1);
        const QString section = text.mid(gl, next - gl);
        QVERIFY(section.indexOf(QStringLiteral("UseCompressedLightmaps=")) < section.indexOf(QStringLiteral("ReduceMouseLag=")));
        const auto d3d = text.indexOf(QStringLiteral("[D3DDrv.D3DRenderDevice]"));
        const QString d3dSection = text.mid(d3d, text.indexOf(QLatin1Char('['), d3d + 1) - d3d);
        QVERIFY(d3dSection.indexOf(QStringLiteral("ReduceMouseLag=")) < d3dSection.indexOf(QStringLiteral("UseCompressedLightmaps=")));
        QVERIFY(d3dSection.endsWith(QStringLiteral("DesiredRefreshRate=60 \r\n\r\n")));
    }

    void untrackedValuesNeverCountAsAChange() {
        QVERIFY(page->LoadUT2k4Settings());
        h->state.PagesLoaded = true;
        c<QSlider>("tbVolume")->setValue(300);
        c<QLineEdit>("edtLanNetspeed")->setText(QStringLiteral("1"));
        c<QLineEdit>("edt9DesiredRefreshrate")->setText(QStringLiteral("1"));
        c<QLineEdit>("edtPixoDesiredRefreshrate")->setText(QStringLiteral("1"));
        QVERIFY(!page->UT2k4SettingsChanged());
        c<QLineEdit>("edtRefreshrate")->setText(QStringLiteral("85"));
        QVERIFY(page->UT2k4SettingsChanged());
    }

    void overflowingGammaStopsTheLoad() {
        withMain("[WinDrv.WindowsClient]\r\nGamma=1e30\r\n");
        QVERIFY(!page->LoadUT2k4Settings());
        QCOMPARE(h->prompter.Texts().size(), 1);
        QVERIFY(h->prompter.Texts()[0].startsWith(QStringLiteral("Error occurred:'1")));
        QVERIFY(page->findChild<QRadioButton*>(QStringLiteral("rbDirect3d"))->isChecked() == false);
    }

    void roundTrips_data() {
        QTest::addColumn<QString>("file");
        const QString rw = RealWorldDir();
        QTest::newRow("demo") << QString();
        for (const char* f : {"8avian-ut2k4_config/UT2004.ini", "GameServerManagers-Game-Server-Configs/UT2004.ini.orig",
                              "GrantSorenson-LumpysInvasionServer/UT2004.ini", "HeffersonMan-UT2004/Default.ini",
                              "HeffersonMan-UT2004/UT2004.ini", "madeinua-ut2004-server-config/UT2004.ini",
                              "scvnc-netwarlan-server-configs/UT2004.ini", "timseriakov-dotfiles/UT2004.ini"})
            QTest::newRow(f) << rw + QLatin1Char('/') + QLatin1String(f);
    }

    void roundTrips() {
        QFETCH(QString, file);
        if (!file.isEmpty()) withMain(ReadAll(file));
        ini::TIniFile probe(mainPath().toStdString());
        h->state.ViewportManager =
            QString::fromStdString(probe.ReadText("Engine.Engine", "ViewportManager", "WinDrv.WindowsClient"));
        const QByteArray before = ReadAll(mainPath());
        QVERIFY(page->LoadUT2k4Settings());
        const QStringList shown = ControlStates(page.get());
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(ReadAll(mainPath()), before); // a save without edits writes nothing
        for (QCheckBox* box : page->findChildren<QCheckBox*>()) box->toggle();
        for (QSlider* slider : page->findChildren<QSlider*>()) slider->setValue(slider->value() == 10 ? 11 : 10);
        const QStringList edited = ControlStates(page.get());
        QVERIFY(page->SaveUT2k4Settings());
        QStringList keys;
        for (const char* k : {"PurgeCacheDays", "CacheSizeMegs", "MinDesiredFrameRate", "ConfiguredInternetSpeed",
                              "ConfiguredLanSpeed", "Brightness", "Contrast", "Gamma", "AmbientVolume",
                              "FullscreenViewportX", "FullscreenViewportY", "RenderDevice", "ScreenFlashes",
                              "WeatherEffects", "NoLighting", "Decals", "Coronas", "DecoLayers", "Projectors",
                              "NoDynamicLights", "UseEAX", "Use3DSound", "UseDefaultDriver", "UsePrecache",
                              "ReverseStereo", "LowQualitySound", "DisablePitch", "DesiredRefreshRate"})
            keys << QLatin1String(k);
        for (const QStringList& option : TableData("render_device_options.tsv").rows) keys << option[0];
        for (QString line : ChangedLines(before, ReadAll(mainPath()))) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('['))) continue;
            const QString key = line.section(QLatin1Char('='), 0, 0).trimmed();
            QVERIFY2(keys.contains(key, Qt::CaseInsensitive) || key.startsWith(QStringLiteral("TextureDetail"), Qt::CaseInsensitive),
                     qPrintable(line));
        }
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(ControlStates(page.get()), edited);
        QVERIFY(edited != shown);
    }

    // Which renderers each build can draw with, as the game's builds ship them.
    void renderDevicesOfEachBuild_data() {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<int>("build");
        QTest::addColumn<QStringList>("offered");
        const QString d3d = QStringLiteral("rbDirect3d"), d3d9 = QStringLiteral("rbD3D9"), gl = QStringLiteral("rbOpenGL"),
                      pixo = QStringLiteral("rbPixo"), null = QStringLiteral("rbNull");
        QTest::newRow("Windows 3369") << QStringLiteral("windows") << 3369 << QStringList{d3d, d3d9, gl, pixo, null};
        QTest::newRow("unknown folder and build") << QString() << 0 << QStringList{d3d, d3d9, gl, pixo, null};
        QTest::newRow("3374 under Proton") << QStringLiteral("steam") << 3374 << QStringList{d3d9, gl, pixo, null};
        QTest::newRow("3374 under Wine") << QStringLiteral("wine") << 3374 << QStringList{d3d9, gl, pixo, null};
        QTest::newRow("native 3369") << QStringLiteral("native") << 3369 << QStringList{gl};
        QTest::newRow("native 3374") << QStringLiteral("native") << 3374 << QStringList{gl};
    }
    void renderDevicesOfEachBuild() {
        QFETCH(QString, kind);
        QFETCH(int, build);
        QFETCH(QStringList, offered);
        h->state.InstallKind = kind;
        h->state.GameBuild = build;
        withMain("[Engine.Engine]\r\nRenderDevice=OpenGLDrv.OpenGLRenderDevice\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        QStringList choosable;
        for (int d = 0; d < settings::kDeviceCount; ++d)
            if (!page->DeviceRadio(d)->isHidden() && page->DeviceRadio(d)->isEnabled())
                choosable << page->DeviceRadio(d)->objectName();
        choosable.sort();
        offered.sort();
        QCOMPARE(choosable, offered);
        QVERIFY(c<QLabel>("lblDeviceNote")->isHidden());
    }

    void storedDeviceTheBuildLacksStaysUntilAnotherIsPicked() {
        h->state.InstallKind = QStringLiteral("steam");
        h->state.GameBuild = 3374;
        withMain("[Engine.Engine]\r\nRenderDevice=D3DDrv.D3DRenderDevice\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        auto* d3d = c<QRadioButton>("rbDirect3d");
        QVERIFY(d3d->isChecked());
        QVERIFY(!d3d->isHidden());
        QVERIFY(!d3d->isEnabled());
        QVERIFY(!c<QLabel>("lblDeviceNote")->isHidden());
        QCOMPARE(c<QLabel>("lblDeviceNote")->text(),
                 QStringLiteral("The stored renderer D3DDrv.D3DRenderDevice is not part of UT2004 3374. It stays as it is "
                                "until you pick another."));
        const QByteArray before = ReadAll(mainPath());
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(ReadAll(mainPath()), before);
        c<QRadioButton>("rbD3D9")->click();
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("Engine.Engine", "RenderDevice"), QStringLiteral("D3D9Drv.D3D9RenderDevice"));
    }

    // A native player's real 3374 file: OpenGL through SDL's viewport.
    void presetsKeepOpenGlOnNativeLinux() {
        h->state.InstallKind = QStringLiteral("native");
        h->state.GameBuild = 3374;
        h->state.ViewportManager = QStringLiteral("SDLDrv.SDLClient");
        WriteAll(mainPath(), ReadAll(RealWorldDir() + QStringLiteral("/timseriakov-dotfiles/UT2004.ini")));
        QVERIFY(page->LoadUT2k4Settings());
        for (auto quality : {settings::Quality::High, settings::Quality::Low}) {
            const QStringList changes = settings::PresetChanges(*page, quality);
            for (const QString& line : changes) QVERIFY2(!line.startsWith(QStringLiteral("renderer")), qPrintable(line));
            settings::ApplyPreset(*page, quality);
            QVERIFY(c<QRadioButton>("rbOpenGL")->isChecked());
            QVERIFY(!c<QGroupBox>("groupOpenGL")->isHidden());
        }
        settings::ApplyPreset(*page, settings::Quality::High);
        QCOMPARE(settings::PresetChanges(*page, settings::Quality::High), QStringList());
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("Engine.Engine", "RenderDevice"), QStringLiteral("OpenGLDrv.OpenGLRenderDevice"));
        QCOMPARE(main("SDLDrv.SDLClient", "FullscreenViewportX"), QStringLiteral("1024"));
        QCOMPARE(main("SDLDrv.SDLClient", "TextureDetailWorld"), QStringLiteral("UltraHigh"));
    }

    void highPresetTakesTheDirect3dTheBuildHasAndSaysSo() {
        withMain("[Engine.Engine]\r\nRenderDevice=OpenGLDrv.OpenGLRenderDevice\r\n"
                 "[WinDrv.WindowsClient]\r\nFullscreenViewportX=1280\r\nFullscreenViewportY=1024\r\n"
                 "[D3DDrv.D3DRenderDevice]\r\nUse16bit=True\r\n");
        h->state.InstallKind = QStringLiteral("windows");
        h->state.GameBuild = 3369;
        QVERIFY(page->LoadUT2k4Settings());
        QStringList changes = settings::PresetChanges(*page, settings::Quality::High);
        QVERIFY(changes.size() >= 4);
        QCOMPARE(changes.mid(0, 3), (QStringList{QStringLiteral("renderer: OpenGL to Direct3d"),
                                                 QStringLiteral("screen resolution: 1280x1024 to 1024x768"),
                                                 QStringLiteral("colour depth: 16-bit to 32-bit")}));
        QVERIFY(changes.last().endsWith(QStringLiteral("other settings (texture detail, display, sound and renderer options)")));
        // High quality means 32-bit colour and textures.
        settings::ApplyPreset(*page, settings::Quality::High);
        QVERIFY(!c<QCheckBox>("cbUse16Bit")->isChecked());
        QVERIFY(!c<QCheckBox>("cb16bittextures")->isChecked());

        h->state.InstallKind = QStringLiteral("steam");
        h->state.GameBuild = 3374;
        QVERIFY(page->LoadUT2k4Settings());
        changes = settings::PresetChanges(*page, settings::Quality::High);
        QCOMPARE(changes.first(), QStringLiteral("renderer: OpenGL to Direct3d DX9"));
        settings::ApplyPreset(*page, settings::Quality::High);
        QVERIFY(c<QRadioButton>("rbD3D9")->isChecked());
        QVERIFY(!c<QRadioButton>("rbDirect3d")->isChecked());
    }
};

QTEST_MAIN(UT2k4SettingsTest)
#include "UT2k4SettingsTest.moc"
