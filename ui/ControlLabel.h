#pragma once
#include <QString>

class QWidget;

namespace ui {

// The name a player reads for a control: a check box's text, the label of
// its form row or its buddy label, the label just before it, else the
// title of its group. Without ":" and mnemonics ("Field of View: 85" and
// "&Name:" read "Field of View" and "Name"); the object name when the page
// shows no word for it.
QString VisibleLabel(const QWidget* control);

} // namespace ui
