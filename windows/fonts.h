#pragma once
// The interface fonts: "宋体" where the system has it, else the installed CJK font, and a
// Kai face for titles. Both at pixel sizes, as the layout is in pixels.

#include <QFont>

// The window font of every window: 12 px unless told otherwise.
QFont InterfaceFont(int pixelSize = 12);

// "楷体_GB2312" where present, else a Kai face, else the interface family.
QFont KaiFont(int pixelSize, bool bold);
