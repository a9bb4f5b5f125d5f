#include "itunes/log.h"

Q_LOGGING_CATEGORY(lcItunes, "contactmover.itunes")
