#include "ui/ControlLabel.h"

#include <QAbstractButton>
#include <QBoxLayout>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLabel>
#include <QRadioButton>
#include <utility>
#include <vector>

namespace ui {

namespace {

QString Clean(QString text) {
    // A single "&" marks the mnemonic; "&&" is an ampersand of the text.
    text.replace(QStringLiteral("&&"), QChar(1));
    text.remove(QLatin1Char('&'));
    text.replace(QChar(1), QLatin1Char('&'));
    text = text.simplified();
    // A label that also shows the value: "Field of View: 85 (Default 85)".
    if (const auto colon = text.indexOf(QStringLiteral(": ")); colon > 0) text.truncate(colon);
    while (text.endsWith(QLatin1Char(':')))
        text.chop(1);
    return text.trimmed();
}

bool IsCaption(const QLabel* label) {
    if (!label) return false;
    const QString text = label->text().trimmed();
    return text.endsWith(QLatin1Char(':')) || text.contains(QStringLiteral(": "));
}

// Where `target` sits: each layout from the innermost outwards, with the
// index of the item that holds it.
bool FindIn(const QLayout* layout, const QWidget* target,
            std::vector<std::pair<const QLayout*, int>>& path) {
    for (int i = 0; i < layout->count(); ++i) {
        QLayoutItem* item = layout->itemAt(i);
        if (item->widget() == target || (item->layout() && FindIn(item->layout(), target, path))) {
            path.emplace_back(layout, i);
            return true;
        }
    }
    return false;
}

// The label a layout shows before one of its items: the label of a form
// row, the cell to the left in a grid, or a caption just above in a column.
const QLabel* LabelBefore(const QLayout* layout, int index) {
    if (const auto* form = qobject_cast<const QFormLayout*>(layout)) {
        int row = -1;
        QFormLayout::ItemRole role{};
        form->getItemPosition(index, &row, &role);
        if (role != QFormLayout::FieldRole) return nullptr;
        const QLayoutItem* label = form->itemAt(row, QFormLayout::LabelRole);
        return label ? qobject_cast<const QLabel*>(label->widget()) : nullptr;
    }
    if (const auto* grid = qobject_cast<const QGridLayout*>(layout)) {
        int row = 0, column = 0, rows = 0, columns = 0;
        grid->getItemPosition(index, &row, &column, &rows, &columns);
        const QLayoutItem* left = column > 0 ? grid->itemAtPosition(row, column - 1) : nullptr;
        return left ? qobject_cast<const QLabel*>(left->widget()) : nullptr;
    }
    if (qobject_cast<const QBoxLayout*>(layout) && index > 0) {
        // Only a caption ("Screen mode:"), not a paragraph that happens to come first.
        const auto* label = qobject_cast<const QLabel*>(layout->itemAt(index - 1)->widget());
        return IsCaption(label) ? label : nullptr;
    }
    return nullptr;
}

const QLabel* LabelOf(const QWidget* control) {
    const QWidget* parent = control->parentWidget();
    if (!parent) return nullptr;
    for (const QLabel* label : parent->findChildren<QLabel*>(Qt::FindDirectChildrenOnly))
        if (label->buddy() == control) return label;
    if (!parent->layout()) return nullptr;
    std::vector<std::pair<const QLayout*, int>> path;
    if (!FindIn(parent->layout(), control, path)) return nullptr;
    for (const auto& [layout, index] : path)
        if (const QLabel* label = LabelBefore(layout, index)) return label;
    return nullptr;
}

} // namespace

QString VisibleLabel(const QWidget* control) {
    if (!control) return {};
    const auto* button = qobject_cast<const QAbstractButton*>(control);
    // A check box says what it is; a radio button is one answer to the
    // question its label asks ("Teamcolor": Red or Blue).
    if (button && !qobject_cast<const QRadioButton*>(control) && !Clean(button->text()).isEmpty())
        return Clean(button->text());
    if (const QLabel* label = LabelOf(control); label && !Clean(label->text()).isEmpty())
        return Clean(label->text());
    if (button && !Clean(button->text()).isEmpty()) return Clean(button->text());
    for (const QWidget* w = control->parentWidget(); w; w = w->parentWidget())
        if (const auto* group = qobject_cast<const QGroupBox*>(w);
            group && !Clean(group->title()).isEmpty())
            return Clean(group->title());
    return control->objectName();
}

} // namespace ui
