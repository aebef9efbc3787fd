#include "settings/SettingsControls.h"

#include "ini/FormatFixed.h"
#include "ini/IniFile.h"

#include <QLabel>
#include <QSlider>
#include <stdexcept>

namespace settings {

std::int32_t ScaledPosition(double value, double scale) {
    const std::string text = ini::FormatFixed("0", value * scale);
    if (auto n = ini::ParseIniNumber(text)) return *n;
    throw std::range_error("'" + text + "' is not a valid integer value");
}

QString Fixed(const char* pattern, double value) {
    return QString::fromStdString(ini::FormatFixed(pattern, value));
}

LabeledSlider::LabeledSlider(const SliderSpec& spec, QWidget* parent)
    : spec_(spec), slider_(new QSlider(Qt::Horizontal, parent)), label_(new QLabel(parent)) {
    slider_->setObjectName(QString::fromLatin1(spec.name));
    label_->setObjectName(QString::fromLatin1(spec.labelName));
    slider_->setRange(spec.min, spec.max);
    slider_->setProperty("scale", spec.scale); // position = stored value x scale
    if (spec.tick > 0) {
        slider_->setTickInterval(spec.tick);
        slider_->setTickPosition(QSlider::TicksBelow);
    }
    slider_->setValue(spec.initial);
    label_->setText(QString::fromLatin1(spec.initialLabel));
    QObject::connect(slider_, &QSlider::valueChanged, label_, [this] { UpdateLabel(); });
}

void LabeledSlider::SetFromValue(double value) {
    slider_->setValue(ScaledPosition(value, spec_.scale)); // QSlider clamps into its range
}

std::string LabeledSlider::ValueText(const char* pattern) const {
    return ini::FormatFixed(pattern, slider_->value() / spec_.scale);
}

void LabeledSlider::UpdateLabel() {
    label_->setText(QString::fromLatin1(spec_.labelPrefix) +
                    QString::fromStdString(ValueText(spec_.pattern)) +
                    QString::fromLatin1(spec_.labelSuffix));
}

void LabeledSlider::Load(const ini::TIniFile& ini, const std::string& section, const char* key,
                         double def) {
    SetFromValue(ini.ReadFraction(section, key, def));
    UpdateLabel();
}

} // namespace settings
