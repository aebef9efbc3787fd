#pragma once

class QWidget;

namespace ui {

// Qt keeps what the player types into a cell editor or a spin box to itself
// until focus moves on. Every command that reads, compares, saves or reloads
// the controls calls this first, so the typed text is what it sees and a
// still-open editor cannot write stale text back after a reload.
// Cell editors are committed and closed; a spin box takes its typed text.
// Focus stays where it was, or goes to the view whose editor closed.
void CommitPendingEdits(QWidget* root);

} // namespace ui
