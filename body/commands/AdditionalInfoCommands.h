#pragma once

class CommandTable;
class I0ofImage;
class QWidget;
class SelectDataDir;

// The additional-information frame: the data directory's naming and the I0
// information of the raw and the I0 images.
struct AdditionalInfoParts
{
    QWidget *frame = nullptr;
    SelectDataDir *dataDirs = nullptr;
    I0ofImage *rawI0 = nullptr;
    I0ofImage *i0I0 = nullptr;
};

void registerAdditionalInfoCommands(CommandTable &table, const AdditionalInfoParts &parts);
