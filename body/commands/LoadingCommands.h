#pragma once

class CommandTable;
class SeekCtrl;
class SelectAImgFile;
class SelectDataFiles;

// The projection file list, the projection shown, and the I0 and BG images.
struct LoadingParts
{
    SelectDataFiles *projections = nullptr;
    SeekCtrl *seek = nullptr;
    SelectAImgFile *i0 = nullptr;
    SelectAImgFile *bg = nullptr;
};

void registerLoadingCommands(CommandTable &table, const LoadingParts &parts);
