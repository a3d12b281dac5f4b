#pragma once
// The tool buttons' 16x16 pictures, drawn in code as shapes, at every size
// in kIconSides (the 16x16 button at 1x, 1.5x, 2x, 3x and 4x screens). Qt
// derives the greyed picture of a disabled button from them.

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

inline constexpr int kIconSides[] = {16, 24, 32, 48, 64};

QIcon ButtonIcon(TButtonPicture picture);
