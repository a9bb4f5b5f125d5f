#pragma once

#include "simadbd.h"

#include <QString>

// The adbd generation a test run plays against: $PHONE_SIM_ADBD (legacy, pie or current; ctest runs the phone
// tests once per generation), current when unset. phone-sim processes started by the test read the same variable.
inline SimAdbdConfig adbdUnderTest()
{
    SimAdbdGeneration generation = SimAdbdGeneration::Current;
    SimAdbdConfig::parseGeneration(qEnvironmentVariable("PHONE_SIM_ADBD", QStringLiteral("current")), &generation);
    return SimAdbdConfig::forGeneration(generation);
}
