#include "android/log.h"

Q_LOGGING_CATEGORY(lcAndroid, "contactmover.android")
Q_LOGGING_CATEGORY(lcAndroidSync, "contactmover.android.sync", QtInfoMsg)
