#pragma once
#include <QString>
#include <cstdint>
#include <string>

class QLabel;
class QSlider;
class QWidget;

namespace ini {
class TIniFile;
}

namespace settings {

// A slider that stores position / scale, with the label that names its value.
struct SliderSpec {
    const char* name;
    const char* labelName;
    int min, max, tick, initial;
    double scale;
    const char* pattern;      // FormatFixed pattern of the label and the save
    const char* labelPrefix;  // "Mouse sensitivity: "
    const char* labelSuffix;  // " (Default = 3.00)"
    const char* initialLabel; // before the first load
};

class LabeledSlider {
public:
    LabeledSlider(const SliderSpec& spec, QWidget* parent);
    QSlider* slider() const { return slider_; }
    QLabel* label() const { return label_; }
    const SliderSpec& spec() const { return spec_; }
    // Position from a stored decimal: value x scale, rounded, clamped.
    // Raises when the rounded value does not fit 32 bits.
    void SetFromValue(double value);
    // The stored text: position / scale in the save pattern.
    std::string ValueText(const char* pattern) const;
    void UpdateLabel();
    // Reads the decimal (default when missing or no number) and rewrites the label.
    void Load(const ini::TIniFile& ini, const std::string& section, const char* key, double def);

private:
    const SliderSpec& spec_;
    QSlider* slider_;
    QLabel* label_;
};

// value x scale rounded to the nearest whole number (halves away from zero);
// raises std::range_error with the number's text when it does not fit 32 bits.
std::int32_t ScaledPosition(double value, double scale);

// Decimal text with "." for a label: FormatFixed as a QString.
QString Fixed(const char* pattern, double value);

} // namespace settings
