#pragma once
// The program's own pictures, bundled as resources so that the program looks the same on
// every desktop. Indexes are those of the main window's image lists.

#include <QIcon>
#include <QPixmap>

// Action and toolbar images (ImageList_tb): 0 about, 1 copy URL, 2 delete, 3 send to the
// collect box, 4 search, 5 properties, 6 refresh, 7 save, 8 open, 9 offline.
constexpr int ToolbarImageCount = 10;
QIcon ToolbarImage(int index);

// Tree node images (ImageList_tree): 0 cache root, 1 host closed, 2 host open or selected,
// 3 search station, 4 search station (spare), 5 collect box, 6 collect box (spare),
// 7 document (spare).
constexpr int TreeImageCount = 8;
QIcon TreeImage(int index);

// Collect box indicator (ImageList1), 32 x 32: 0 empty, 1 holding documents.
constexpr int CollectBoxImageCount = 2;
QPixmap CollectBoxImage(int index);

QIcon ProgramIcon();

// Stands in where the icon theme has no icon for a file's type.
QIcon GenericDocumentIcon();

// An index outside its list gives a null icon or pixmap.
