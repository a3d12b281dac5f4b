#pragma once
// The tool buttons' 16x16 pictures, drawn in code. Qt derives the greyed
// picture of a disabled button from them.

#include <QIcon>

enum class TButtonPicture {
    Help,          // SB_Help
    Connect,       // SB_connect
    ClearChat,     // SpeedButton2
    SendMessage,   // SB_msg
    ClearReceived, // SpeedButton1
    Folder,        // SB_Dir
    AddFile,       // SB_FileAdd
    AddFolder,     // SB_FolderAdd
    DeleteFile,    // SB_FileDel
    ClearList,     // SB_ListClear
    SendFiles,     // SB_send
    Stop,          // SB_Cancel
};

QIcon ButtonIcon(TButtonPicture picture);
