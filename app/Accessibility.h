#pragma once
// How the window's lists look to a screen reader. Qt's own rows of an item
// view offer a "toggle" action that only selects the row, so a check mark
// could not be set from the accessibility bus. The lists made by MakeList
// get rows of their own instead: a row with a check mark is checkable and
// its "toggle" action flips the mark through the model, as the Space key
// does; every row can be made current ("SetFocus").
//
// GUI thread only.

#include <QAccessible>

class QLineEdit;
class QListView;
class QWidget;

// Installs the factory once; lists marked by MarkRowList are served by it.
void InstallAccessibility();
// Marks a list to be served by the factory (done before it is first shown).
void MarkRowList(QListView *list);
// A plain widget that stands for more than its class says (the window, the
// status bar), as a screen reader should name its kind.
void SetAccessibleRole(QWidget *widget, QAccessible::Role role);
// Makes a line box read-only, and says so over the bus: readable and
// selectable, never "editable".
void MarkReadOnly(QLineEdit *edit);
