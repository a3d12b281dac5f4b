#pragma once
// What a screen reader is told where Qt's own accessibility falls short.
// - Lists: Qt's rows of an item view offer a "toggle" action that only
//   selects the row, so a check mark could not be set from the bus. Lists
//   marked here get rows of their own: a row with a check mark is a check
//   box whose "toggle" flips the mark through the model, as Space does;
//   every row can be made current ("SetFocus").
// - Read-only line boxes: Qt's say "editable" over the bus; ours are
//   readable and selectable, never editable.
// - Plain widgets that stand for more (the window, the status bar) get the
//   role they play.
//
// GUI thread only. The factory serves the whole application once installed.

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
