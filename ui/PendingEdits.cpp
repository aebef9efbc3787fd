#include "ui/PendingEdits.h"

#include <QAbstractItemView>
#include <QAbstractSpinBox>
#include <QApplication>
#include <QPointer>
#include <QWidget>

namespace ui {

namespace {

// The cell editor `w` belongs to: a widget placed on a view's viewport.
QAbstractItemView* viewOfEditor(QWidget* w) {
    for (; w && w->parentWidget(); w = w->parentWidget())
        if (auto* view = qobject_cast<QAbstractItemView*>(w->parentWidget()->parentWidget()))
            if (w->parentWidget() == view->viewport()) return view;
    return nullptr;
}

QWidget* editorOnViewport(QAbstractItemView* view, QWidget* w) {
    while (w && w->parentWidget() != view->viewport())
        w = w->parentWidget();
    return w;
}

void commitAndClose(QAbstractItemView* view, QWidget* editor) {
    const QModelIndex index = view->currentIndex();
    QAbstractItemDelegate* delegate =
        view->itemDelegateForIndex(index.isValid() ? index : view->rootIndex());
    if (!delegate) return;
    // The view listens to its delegate: these run its own commit and close
    // slots, which write the editor's text into the model and release it.
    emit delegate->commitData(editor);
    emit delegate->closeEditor(editor, QAbstractItemDelegate::NoHint);
}

} // namespace

void CommitPendingEdits(QWidget* root) {
    if (!root) return;
    QPointer<QWidget> focus = root->window()->focusWidget();

    // A spin box interprets its text when it loses focus; the one the player
    // is typing into still holds focus.
    for (QWidget* w = focus; w; w = w->parentWidget())
        if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) {
            spin->interpretText();
            break;
        }

    for (QAbstractItemView* view : root->findChildren<QAbstractItemView*>()) {
        QWidget* editor = view->indexWidget(view->currentIndex());
        if (!editor && focus && viewOfEditor(focus) == view) editor = editorOnViewport(view, focus);
        if (!editor || editor->isHidden()) continue; // hidden: already released
        commitAndClose(view, editor);
    }

    // Closing an editor that had focus hands it to its view; anything else
    // the player was in keeps it.
    if (focus && focus->isVisible() && QApplication::focusWidget() != focus)
        focus->setFocus(Qt::OtherFocusReason);
}

} // namespace ui
