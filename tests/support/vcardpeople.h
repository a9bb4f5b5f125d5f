#pragma once

// vCard text of numbered people, for seeding phones and files.

#include <QByteArray>

namespace people {

// n cards "<prefix><i>;Test" for i from 0, each with the mobile number "555 <i>".
QByteArray cards(int n, const char *prefix = "Person");

// n cards "Person<i>;Test" for i from `from`, each with the mobile number "+1 555 <1000 + i>" and the e-mail
// "p<i>@example.org"; every odd one is in the group Friends.
QByteArray withMailAndGroup(int n, int from = 0);

} // namespace people
