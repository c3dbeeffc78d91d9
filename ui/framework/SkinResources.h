#pragma once
// The program's skin: the folder with the layout files, and the resources named in its "res.xml"
// (style sheet, extra fonts, application font, shared images).
//
// "res.xml" looks like this (every element is optional, paths are relative to the skin folder):
//
//   <Resources>
//     <StyleSheet file="style.qss"/>
//     <Font file="fonts/Extra.otf"/>                       (added to the application's fonts)
//     <DefaultFont family="Noto Sans CJK SC" pixelSize="13"/>
//     <Image name="close" file="images/close.png"/>
//   </Resources>
//
// Style sheets and layout files refer to skin files as "skin:images/close.png" (a Qt search path
// set by LoadSkinResources).
//
// Thread: UI thread only. LoadSkinResources is called once at start, before any window exists.

#include <QPixmap>
#include <QString>

// Where the skin is: $TAMSU_SKIN_DIR when set (tests), else the program's folder + "/skin/" when
// that holds "res.xml", else "../share/tamsu-recorder/skin/" from the program's folder when that
// does (an installed program, wherever its prefix is), else the data folder of the configured
// install prefix. Always ends with "/".
QString FindSkinFolder();

// Reads skinFolder + "res.xml" and applies it to the running QApplication: style sheet, fonts,
// application font, images. Returns false (and logs which file failed) when "res.xml" or a file
// it names cannot be read; whatever could be read is applied all the same.
bool LoadSkinResources(const QString& skinFolder);

// The folder given to LoadSkinResources, or FindSkinFolder() when it was never called.
QString SkinFolder();

// A shared image named in "res.xml"; a null pixmap (and a log line) for an unknown name.
QPixmap SkinImage(const QString& name);
