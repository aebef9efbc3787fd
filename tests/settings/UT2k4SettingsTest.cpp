#include "ini/IniFile.h"
#include "settings/RenderDevices.h"
#include "settings/TUT2k4SettingsPage.h"
#include "tests/support/ControlStates.h"
#include "tests/support/PageHarness.h"

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
    void initTestCase() { QCOMPARE(QString::fromLatin1(std::localeconv()->decimal_point), QStringLiteral(",")); }
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
        for (int d = 0; d < settings::kDeviceCount; ++d)
            for (const auto& option : settings::DeviceOptions())
                if (const auto& cell = option.cells[d]; cell.control)
                    QCOMPARE(c<QCheckBox>(cell.control)->isChecked(), cell.def);
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
        QCOMPARE(main("Engine.Engine", "RenderDevice"), QStringLiteral("OpenGLDrv.OpenGLRenderDevice"));
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

    void screenModeRanges_data() {
        QTest::addColumn<int>("x");
        QTest::addColumn<QString>("mode");
        QTest::newRow("720") << 720 << QStringLiteral("640x480");
        QTest::newRow("721") << 721 << QStringLiteral("800x600");
        QTest::newRow("1152") << 1152 << QStringLiteral("1024x768");
        QTest::newRow("1153") << 1153 << QStringLiteral("1280x1024");
        QTest::newRow("1800") << 1800 << QStringLiteral("1600x1200");
        QTest::newRow("1920 keeps") << 1920 << QStringLiteral("800x600");
        QTest::newRow("negative keeps") << -1 << QStringLiteral("800x600");
    }

    void screenModeRanges() {
        QFETCH(int, x);
        QFETCH(QString, mode);
        c<QComboBox>("pickScreenmode")->setCurrentIndex(1);
        withMain("[WinDrv.WindowsClient]\r\nFullscreenViewportX=" + QByteArray::number(x) + "\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(c<QComboBox>("pickScreenmode")->currentText(), mode);
    }

    void screenModeSavesBothSizesAndIgnoresTyping() {
        withMain("");
        QVERIFY(page->LoadUT2k4Settings());
        auto* modes = c<QComboBox>("pickScreenmode");
        QTest::keyClicks(modes, QStringLiteral("1"));
        QCOMPARE(modes->currentText(), QStringLiteral("640x480"));
        modes->setCurrentIndex(3);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "FullscreenViewportX"), QStringLiteral("1280"));
        QCOMPARE(main("WinDrv.WindowsClient", "FullscreenViewportY"), QStringLiteral("1024"));
    }

    void textureDetails() {
        withMain("[WinDrv.WindowsClient]\r\nTextureDetailWorld=Insane\r\nTextureDetailTerrain=HIGHER\r\n");
        auto* world = c<QComboBox>("pickworld");
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(world->currentIndex(), -1); // an unknown level leaves the list as it was
        QCOMPARE(c<QComboBox>("pickTerrain")->currentText(), QStringLiteral("Higher"));
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "TextureDetailWorld"), QStringLiteral("Insane"));
        QCOMPARE(main("WinDrv.WindowsClient", "TextureDetailTerrain"), QStringLiteral("Higher"));
        h->state.PagesLoaded = true;
        c<QComboBox>("pickInterface")->setEditText(QStringLiteral("Something"));
        QVERIFY(page->UT2k4SettingsChanged()); // typing counts
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "TextureDetailInterface"), QStringLiteral("Normal"));
    }

    void volumeIsWrittenToBothSectionsWithADot() {
        withMain("[Engine.AmbientSound]\r\nAmbientVolume=0.75\r\n");
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(c<QSlider>("tbVolume")->value(), 75);
        QCOMPARE(c<QLabel>("lblVolume")->text(), QStringLiteral("Volume: 0.75 (Default = 0.25)"));
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("Engine.AmbientSound", "AmbientVolume"), QStringLiteral("0.75"));
        QCOMPARE(main("ALAudio.ALAudioSubsystem", "AmbientVolume"), QStringLiteral("0.75"));
        QCOMPARE(main("WinDrv.WindowsClient", "Gamma"), QStringLiteral("0.80"));
    }

    void invertedAndPrecachingBoxesWriteTheirOwnKeys() {
        withMain("");
        QVERIFY(page->LoadUT2k4Settings());
        c<QCheckBox>("cbLighting")->setChecked(false);
        c<QCheckBox>("cbPrecaching")->setChecked(true);
        c<QCheckBox>("cbPrecache")->setChecked(false);
        QVERIFY(page->SaveUT2k4Settings());
        QCOMPARE(main("WinDrv.WindowsClient", "NoLighting"), QStringLiteral("True"));
        QCOMPARE(main("D3DDrv.D3DRenderDevice", "UsePrecaching"), QStringLiteral("True"));
        QCOMPARE(main("ALAudio.ALAudioSubsystem", "UsePrecache"), QStringLiteral("False"));
    }

    void openGlWritesCompressedLightmapsBeforeMouseLag() {
        withMain("");
        QVERIFY(page->LoadUT2k4Settings());
        QVERIFY(page->SaveUT2k4Settings());
        const QString text = QString::fromLatin1(ReadAll(mainPath()));
        const auto gl = text.indexOf(QStringLiteral("[OpenGLDrv.OpenGLRenderDevice]"));
        const auto next = text.indexOf(QLatin1Char('['), gl + 1);
        const QString section = text.mid(gl, next - gl);
        QVERIFY(section.indexOf(QStringLiteral("UseCompressedLightmaps=")) < section.indexOf(QStringLiteral("ReduceMouseLag=")));
        const auto d3d = text.indexOf(QStringLiteral("[D3DDrv.D3DRenderDevice]"));
        const QString d3dSection = text.mid(d3d, text.indexOf(QLatin1Char('['), d3d + 1) - d3d);
        QVERIFY(d3dSection.indexOf(QStringLiteral("ReduceMouseLag=")) < d3dSection.indexOf(QStringLiteral("UseCompressedLightmaps=")));
        QVERIFY(d3dSection.endsWith(QStringLiteral("DesiredRefreshRate=60\r\n\r\n")));
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
        QVERIFY(h->prompter.Texts()[0].startsWith(QStringLiteral("Error occured:'1")));
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
        QStringList keys;
        for (const char* k : {"PurgeCacheDays", "CacheSizeMegs", "MinDesiredFrameRate", "ConfiguredInternetSpeed",
                              "ConfiguredLanSpeed", "Brightness", "Contrast", "Gamma", "AmbientVolume",
                              "FullscreenViewportX", "FullscreenViewportY", "RenderDevice", "ScreenFlashes",
                              "WeatherEffects", "NoLighting", "Decals", "Coronas", "DecoLayers", "Projectors",
                              "NoDynamicLights", "UseEAX", "Use3DSound", "UseDefaultDriver", "UsePrecache",
                              "ReverseStereo", "LowQualitySound", "DisablePitch", "DesiredRefreshRate"})
            keys << QLatin1String(k);
        for (const auto& option : settings::DeviceOptions()) keys << QLatin1String(option.key);
        for (QString line : ChangedLines(before, ReadAll(mainPath()))) {
            line = line.trimmed();
            if (line.isEmpty() || line.startsWith(QLatin1Char('['))) continue;
            const QString key = line.section(QLatin1Char('='), 0, 0).trimmed();
            QVERIFY2(keys.contains(key, Qt::CaseInsensitive) || key.startsWith(QStringLiteral("TextureDetail"), Qt::CaseInsensitive),
                     qPrintable(line));
        }
        QVERIFY(page->LoadUT2k4Settings());
        QCOMPARE(ControlStates(page.get()), shown);
    }
};

QTEST_MAIN(UT2k4SettingsTest)
#include "UT2k4SettingsTest.moc"
