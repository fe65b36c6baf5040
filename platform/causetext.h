#pragma once
// What the user is told about the cause of a failure, by its error number: the same cause reads
// the same whichever store, file or command met it.

#include "stores/storeerror.h"

#include <QString>

// A short Chinese phrase without a full stop, to be set into a sentence: "磁盘已满".
QString CauseText(StoreError error);
