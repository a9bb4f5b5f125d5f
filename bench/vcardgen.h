#pragma once

#include <QByteArray>

// A vCard 3.0 file of generated contacts for the benchmarks: each contact has a name, two phones, an e-mail
// address, a postal address and a note; every photoEvery-th contact also a photo of photoBytes random bytes
// (Base64, folded at 75 characters as phones write it). The same arguments give the same bytes.
QByteArray generateVCards(int contacts, int photoEvery = 10, int photoBytes = 20 * 1024);

// A mixed vCard 3.0 file as address books export them: every contact has a name and a mobile phone; others add
// work phones, several e-mail addresses, addresses, organizations, birthdays, web sites, nicknames and labelled
// grouped entries (item1.TEL with X-ABLabel). One contact in twenty has a photo of 20 KB (Base64, folded); one
// in ten a multi-line quoted-printable note. Names are unique and numbered from firstIndex, so files made with
// ranges that do not overlap hold no two contacts of the same name.
QByteArray generateMixedVCards(int contacts, int firstIndex = 0);
