#include "logging.h"

Q_LOGGING_CATEGORY(lcStore, "tidewrack.store")
Q_LOGGING_CATEGORY(lcUi, "tidewrack.ui")
