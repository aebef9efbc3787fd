#include "settings/Presets.h"

#include "settings/RenderDevices.h"
#include "settings/TUT2k4SettingsPage.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QRadioButton>
#include <span>

namespace settings {

namespace {

enum class Kind { Check, Text, Item, Radio };

// One control and its value in each preset, in the order they are set.
struct PresetRow {
    const char* control;
    Kind kind;
    const char* low;
    const char* high;
};

constexpr const char* ON = "1";
constexpr const char* OFF = "0";

constexpr PresetRow kPreset[] = {
    {"pickTerrain", Kind::Item, "Low", "UltraHigh"},
    {"pickInterface", Kind::Item, "Low", "UltraHigh"},
    {"pickWeaponskin", Kind::Item, "Low", "UltraHigh"},
    {"pickplayerskin", Kind::Item, "Low", "UltraHigh"},
    {"pickworld", Kind::Item, "Low", "UltraHigh"},
    {"pickrendermap", Kind::Item, "Low", "UltraHigh"},
    {"picklightmap", Kind::Item, "Low", "UltraHigh"},
    {"cbScrnFlash", Kind::Check, OFF, ON},
    {"cbLighting", Kind::Check, OFF, ON},
    {"cbDecals", Kind::Check, OFF, ON},
    {"cbCoronas", Kind::Check, OFF, ON},
    {"cbDeco", Kind::Check, OFF, ON},
    {"cbProjectors", Kind::Check, OFF, ON},
    {"cbDynamicLights", Kind::Check, OFF, ON},
    {"cbDefaultDriver", Kind::Check, ON, ON},
    {"cbPrecache", Kind::Check, ON, ON},
    {"cbLowquality", Kind::Check, ON, OFF},
    {"cbEAX", Kind::Check, OFF, ON},
    {"cb3dsound", Kind::Check, OFF, ON},
    {"cbRevStereo", Kind::Check, OFF, OFF},
    {"cbDisPitch", Kind::Check, OFF, ON},
    {"edtFPS", Kind::Text, "0", "0"},
    {nullptr, Kind::Radio, "rbOpenGL", "rbDirect3d"},
    {"pickScreenmode", Kind::Item, "640x480", "1024x768"},
    {"cbOpenDetailTex", Kind::Check, OFF, ON},
    {"cbOpenHighDetailactors", Kind::Check, OFF, ON},
    {"cbOpenSuperhighdetailactors", Kind::Check, OFF, ON},
    {"cbOpenPrecaching", Kind::Check, ON, ON},
    {"cbOpenTrilinear", Kind::Check, OFF, ON},
    {"cbOpenCompressedLightmaps", Kind::Check, ON, OFF},
    {"cbOpenMouseLag", Kind::Check, OFF, OFF},
    // High quality keeps 32-bit colour and textures.
    {"cbUse16Bit", Kind::Check, ON, OFF},
    {"cb16bittextures", Kind::Check, ON, OFF},
    {"cbPrecaching", Kind::Check, ON, ON},
    {"cbCompressedLightmaps", Kind::Check, ON, OFF},
    {"cbDetailText", Kind::Check, OFF, ON},
    {"cbHighDetailActors", Kind::Check, OFF, ON},
    {"cbSuperHighDetailActors", Kind::Check, OFF, ON},
    {"cbTrilinear", Kind::Check, OFF, ON},
    {"cbMouseLag", Kind::Check, OFF, OFF},
    {"cbTripleBuffering", Kind::Check, OFF, OFF},
    {"cbCubemaps", Kind::Check, OFF, OFF},
    {"cbVSync", Kind::Check, OFF, OFF},
    {"edtRefreshrate", Kind::Text, "0", "0"},
};

// The radio button the preset checks on this build; null keeps the current.
QRadioButton* PresetRadio(const TUT2k4SettingsPage& page, Quality quality) {
    static constexpr Device kHigh[] = {D3D, D3D9};
    static constexpr Device kLow[] = {OpenGL};
    for (Device d : quality == Quality::High ? std::span<const Device>(kHigh) : std::span<const Device>(kLow))
        if (page.DeviceOffered(d)) return page.DeviceRadio(d);
    for (int d = 0; d < kDeviceCount; ++d)
        if (page.DeviceRadio(d)->isChecked() && page.DeviceOffered(d)) return nullptr;
    return page.DeviceOffered(OpenGL) ? page.DeviceRadio(OpenGL) : nullptr;
}

QString Value(const PresetRow& row, Quality quality) {
    return QString::fromLatin1(quality == Quality::Low ? row.low : row.high);
}

// The control's current value in the preset table's terms.
QString Current(const TUT2k4SettingsPage& page, const PresetRow& row) {
    const QString name = QString::fromLatin1(row.control);
    switch (row.kind) {
    case Kind::Check: return page.findChild<QCheckBox*>(name)->isChecked() ? QString::fromLatin1(ON) : QString::fromLatin1(OFF);
    case Kind::Text: return page.findChild<QLineEdit*>(name)->text();
    case Kind::Item: return page.findChild<QComboBox*>(name)->currentText();
    case Kind::Radio: break;
    }
    return {};
}

QString CheckedDeviceCaption(const TUT2k4SettingsPage& page) {
    for (int d = 0; d < kDeviceCount; ++d)
        if (page.DeviceRadio(d)->isChecked()) return page.DeviceRadio(d)->text();
    return QStringLiteral("none");
}

} // namespace

void ApplyPreset(TUT2k4SettingsPage& page, Quality quality) {
    for (const auto& row : kPreset) {
        const QString value = QString::fromLatin1(quality == Quality::Low ? row.low : row.high);
        const QString name = row.control ? QString::fromLatin1(row.control) : value;
        switch (row.kind) {
        case Kind::Check: page.findChild<QCheckBox*>(name)->setChecked(value == QLatin1String(ON)); break;
        case Kind::Text: page.findChild<QLineEdit*>(name)->setText(value); break;
        case Kind::Item: {
            auto* list = page.findChild<QComboBox*>(name);
            list->setCurrentIndex(list->findText(value));
            break;
        }
        case Kind::Radio:
            if (QRadioButton* rb = PresetRadio(page, quality)) rb->setChecked(true);
            break;
        }
    }
}

QStringList PresetChanges(const TUT2k4SettingsPage& page, Quality quality) {
    QStringList lines;
    int others = 0;
    QRadioButton* radio = PresetRadio(page, quality);
    if (radio && !radio->isChecked())
        lines << QStringLiteral("renderer: ") + CheckedDeviceCaption(page) + QStringLiteral(" to ") + radio->text();
    const bool toD3D = radio ? radio == page.DeviceRadio(D3D) : page.DeviceRadio(D3D)->isChecked();
    for (const auto& row : kPreset) {
        if (row.kind == Kind::Radio) continue;
        const QString now = Current(page, row);
        const QString then = Value(row, quality);
        if (now == then) continue;
        const QLatin1String name(row.control);
        if (name == QLatin1String("pickScreenmode"))
            lines << QStringLiteral("screen resolution: ") + (now.isEmpty() ? then : now + QStringLiteral(" to ") + then);
        else if (name == QLatin1String("cbUse16Bit") && toD3D)
            lines << (then == QLatin1String(ON) ? QStringLiteral("colour depth: 32-bit to 16-bit")
                                                : QStringLiteral("colour depth: 16-bit to 32-bit"));
        else
            ++others;
    }
    if (others > 0)
        lines << QString::number(others) + QStringLiteral(" other settings (texture detail, display, sound and renderer options)");
    return lines;
}

} // namespace settings
