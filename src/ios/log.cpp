#include "ios/log.h"

Q_LOGGING_CATEGORY(lcIos, "contactmover.ios")
Q_LOGGING_CATEGORY(lcIosSync, "contactmover.ios.sync", QtInfoMsg)
Q_LOGGING_CATEGORY(lcMobilesync, "contactmover.ios.mobilesync", QtWarningMsg)
