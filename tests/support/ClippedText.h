#pragma once

#include <QStringList>

class QWidget;

// The labels, buttons, check boxes and radio buttons in a widget tree whose text does not fit
// them: the text is wider than the widget (its size hint against its geometry; a word-wrapped
// label by the height its text needs at its width), or its line taller. One entry per such
// widget, naming it; empty when every text shows whole. Each page of a tab widget is made current
// in turn, and a tab that is out of view, or cut without its whole text as tool tip, is listed
// too. Lays out the tree first.
QStringList clippedTexts(QWidget* top);
