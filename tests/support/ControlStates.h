#pragma once
#include <QAbstractButton>
#include <QComboBox>
#include <QLineEdit>
#include <QSlider>
#include <QStringList>
#include <QTableWidget>

namespace testsupport {

// Every named control's state as "name=value", to compare a page with itself.
inline QStringList ControlStates(const QWidget* root) {
    QStringList out;
    for (const QWidget* w : root->findChildren<QWidget*>()) {
        const QString n = w->objectName();
        if (n.isEmpty()) continue;
        if (auto* b = qobject_cast<const QAbstractButton*>(w); b && b->isCheckable())
            out << n + QStringLiteral("=") + QString::number(b->isChecked());
        else if (auto* e = qobject_cast<const QLineEdit*>(w); e && !qobject_cast<const QComboBox*>(w->parentWidget()))
            out << n + QStringLiteral("=") + e->text();
        else if (auto* c = qobject_cast<const QComboBox*>(w))
            out << n + QStringLiteral("=") + c->currentText();
        else if (auto* s = qobject_cast<const QSlider*>(w))
            out << n + QStringLiteral("=") + QString::number(s->value());
        else if (auto* t = qobject_cast<const QTableWidget*>(w))
            for (int r = 0; r < t->rowCount(); ++r)
                out << n + QStringLiteral("[") + t->item(r, 0)->text() + QStringLiteral("]=") + t->item(r, 1)->text();
    }
    return out;
}

// Lines of `after` that are not in `before` (by position-free comparison).
inline QStringList ChangedLines(const QByteArray& before, const QByteArray& after) {
    QStringList old;
    for (const QByteArray& l : before.split('\n')) old << QString::fromLatin1(l);
    QStringList changed;
    for (const QByteArray& l : after.split('\n')) {
        const QString s = QString::fromLatin1(l);
        if (!old.removeOne(s)) changed << s;
    }
    return changed;
}

} // namespace testsupport
