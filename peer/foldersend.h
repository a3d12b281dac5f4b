#pragma once
// A folder row's step: the folder's tree to a peer that showed Folders, one
// message or file at a time. Owner thread only, like a file's step.

#include "peer/folders.h"
#include "peer/sendrun.h"

#include <memory>

namespace dz::peer {

// To a peer without Folders nothing is sent and done hears NoFoldersError.
// Else "Dizaruz_Folder|" + its name, then for each entry, parents first,
// "Dizaruz_Dir|" + its path or "Dizaruz_File|" + its path followed by its
// stream, and "Dizaruz_FolderEnd|" + its name. A file too large for the
// peer fails the step before anything of the folder goes. opened hears
// the folder's total size.
void RunFolderStep(TOutbox &outbox, TStreamSender &streams, const TPeerCore &core,
                   std::shared_ptr<TStepControl> control, const std::string &path,
                   std::shared_ptr<const TFolderTree> tree, TDone done,
                   std::function<void(std::int64_t size)> opened);

} // namespace dz::peer
