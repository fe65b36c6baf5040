#pragma once
// Tool tips that show their text as it is. Qt shows a tool tip as rich text whenever the
// text looks like markup, so a file name or URL holding "<b>" would turn bold and lose its
// tags. The tips of item views carry such names.

#include <QString>

class QAbstractItemView;

// The rich text that shows `text` exactly, on as many lines as it has.
QString PlainToolTip(const QString &text);

// Shows the tool tips of `view`'s items (Qt::ToolTipRole) as plain text.
void ShowItemToolTipsAsPlainText(QAbstractItemView *view);
