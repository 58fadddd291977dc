// The explorer tree's own option sets, file-object kinds and root folders.
// Each enumeration's order is its bit order in stored forms: never reorder,
// only append.
#pragma once
#include "tree/core/LazyTreeOptions.h"
#include <cstdint>

namespace krv {

enum TLETFolderOption {
    toFoldersExpandable, toHideRootFolder, toForceHideRecycleBin, toForceShowMyDocuments, toShowOpenIconOnSelect,
    toDisableGhostedFolders, toNoUseLETColorsProp
};
using TLETFolderOptions = TEnumSet<TLETFolderOption, uint8_t>;

enum TLETImageOption { toHideOverlay, toImages, toThreadedImages, toLargeImages, toMarkCutAndCopy };
using TLETImageOptions = TEnumSet<TLETImageOption, uint8_t>;

enum TLETMiscOption {
    toBrowseExecuteFolder, toBrowseExecuteFolderShortcut, toBrowseExecuteZipFolder, toChangeNotifierThread,
    toListviewLimitBrowseToRoot, toNoRebuildIconListOnAssocChange, toTrackChangesInMappedDrives,
    toPersistentColumns, toExecuteOnDblClk, toRightButtonSelect, toRemoveContextMenuShortCut, toUserSort,
    toAutoScrollHorz, toLETReadOnly, toRestoreTopNodeOnRefresh
};
using TLETMiscOptions = TEnumSet<TLETMiscOption, uint16_t>;

enum TLETShellOption { toRightAlignSizeColumn, toContextMenus, toDragDrop, toShellHints, toShellColumnMenu };
using TLETShellOptions = TEnumSet<TLETShellOption, uint8_t>;

enum TLETSyncOption { toCollapseTargetFirst, toExpandTarget, toSelectTarget };
using TLETSyncOptions = TEnumSet<TLETSyncOption, uint8_t>;

// What a stored form leaves out of the explorer sets means these.
constexpr TLETFolderOptions DefaultLETFolderOptions = {toFoldersExpandable};
static_assert(DefaultLETFolderOptions.Bits() == 1);

enum TFileObject { foFolders, foNonFolders, foHidden };
using TFileObjects = TEnumSet<TFileObject, uint8_t>;

enum TFileSort { fsFileType, fsFileExtension };
enum TFileSizeFormat { fsfExplorer, fsfActual, fsfDiskUsage };
enum TColumnDetails { cdUser, cdLETColumns, cdShellColumns };

// Root folders: the special folders in their stored order, then the two custom kinds.
enum TRootFolder {
    rfAdminTools, rfAltStartup, rfAppData, rfBitBucket, rfCommonAdminTools, rfCommonAltStartup, rfCommonAppData,
    rfCommonDesktopDirectory, rfCommonDocuments, rfCommonFavorties, rfCommonPrograms, rfCommonStartMenu,
    rfCommonStartup, rfCommonTemplates, rfControlPanel, rfCookies, rfDesktop, rfDesktopDirectory, rfDrives,
    rfFavorites, rfFonts, rfHistory, rfInternet, rfInternetCache, rfLocalAppData, rfMyPictures, rfNetHood,
    rfNetwork, rfPersonal, rfPrinters, rfPrintHood, rfProfile, rfProgramFiles, rfCommonProgramFiles, rfPrograms,
    rfRecent, rfSendTo, rfStartMenu, rfStartUp, rfSystem, rfTemplate, rfWindows, rfCustom, rfCustomPIDL
};
static_assert(rfWindows == 41);

// The shell's special-folder number of a root folder; -1 for the custom kinds.
constexpr int RootFolderToCSIDL(TRootFolder value) {
    constexpr int table[] = {0x30, 0x1D, 0x1A, 0x0A, 0x2F, 0x1E, 0x23, 0x19, 0x2E, 0x1F, 0x17, 0x16, 0x18, 0x2D,
                             0x03, 0x21, 0x00, 0x10, 0x11, 0x06, 0x14, 0x22, 0x01, 0x20, 0x1C, 0x27, 0x13, 0x12,
                             0x05, 0x04, 0x1B, 0x28, 0x26, 0x2B, 0x02, 0x08, 0x09, 0x0B, 0x07, 0x25, 0x15, 0x24};
    return value >= rfAdminTools && value <= rfWindows ? table[value] : -1;
}
static_assert(RootFolderToCSIDL(rfDesktop) == 0 && RootFolderToCSIDL(rfDrives) == 0x11 &&
              RootFolderToCSIDL(rfWindows) == 0x24 && RootFolderToCSIDL(rfCustom) == -1);

} // namespace krv
