#include "fileio/log.h"

Q_LOGGING_CATEGORY(lcFileio, "contactmover.fileio")
