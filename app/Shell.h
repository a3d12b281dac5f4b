#pragma once
// The desktop services that need the toolkit: opening a document or web
// address (a Windows-1251 text), and choosing a folder (a UTF-8 path).

#include <string>

class IDialogs;
class QWidget;

// Asks the desktop to open the document (a file, folder or web address)
// through dialogs.openUrl.
// showMode is kept for the callers' sake (0 means 1, "show normally"); the
// desktop decides how to show it. On failure and with showError, a message
// "Ошибка при открытии документа : <document>" goes through dialogs.
// Never throws.
bool OpenDocument(IDialogs &dialogs, bool showError, QWidget *owner, const std::string &document,
                  int showMode);

// Lets the user choose a folder, starting in folder when it exists. On
// success folder becomes the chosen folder, created with its parents when
// needed, trimmed and ended with '/' (its case kept), and the result is true
// when it names an existing folder. On cancel the result is false and folder
// holds its trimmed value, or "" when that named no folder.
// Raises dz::EFileError "Unable to create directory" for an empty name.
bool SelectFolder(IDialogs &dialogs, QWidget *parent, std::string &folder);
