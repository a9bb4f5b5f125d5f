#include "adb/log.h"

Q_LOGGING_CATEGORY(lcAdb, "contactmover.adb")
