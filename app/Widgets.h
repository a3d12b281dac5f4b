#pragma once
// How the window's controls are made: the design's panels, labels,
// buttons, edit boxes and lists, with their bevels, colours and sizes.
// GUI thread only.

#include "Icons.h"

#include <QColor>
#include <QRect>
#include <QString>

class QFrame;
class QLabel;
class QLineEdit;
class QListView;
class QObject;
class QTimer;
class QToolButton;
class QWidget;

enum class TBevel { None, Raised, Lowered, LoweredTwice };

QFrame *MakePanel(QWidget *parent, const char *name, TBevel bevel);
QLabel *MakeLabel(QWidget *parent, const char *name, const QString &text);
// A label at (left, top), as large as its text.
QLabel *PlaceLabel(QWidget *parent, const char *name, const QString &text, int left, int top);
// hint: shown as a tooltip when showHint; always the accessible name
// (accessibleName overrides it for buttons without a hint).
QToolButton *MakeButton(QWidget *parent, const char *name, TButtonPicture picture, QRect place, const QString &hint,
                        bool showHint, const QString &accessibleName = {});
// Read-only boxes are silver; the others are white. Buttons and boxes are
// tab stops.
QLineEdit *MakeEdit(QWidget *parent, const char *name, QRect place, bool readOnly);
// A list of the design: rows 13 pixels high, silver, one row selected at a time.
QListView *MakeList(QWidget *parent, const char *name);
// A precise timer of one second.
QTimer *MakeTimer(QObject *parent, const char *name);
void SetSilver(QWidget *widget);
void SetTextColour(QLabel *label, const QColor &text, const QColor &background = QColor());
