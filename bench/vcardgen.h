#pragma once

#include <QByteArray>

// A vCard 3.0 file of generated contacts for the benchmarks: each contact has a name, two phones, an e-mail
// address, a postal address and a note; every photoEvery-th contact also a photo of photoBytes random bytes
// (Base64, folded at 75 characters as phones write it). The same arguments give the same bytes.
QByteArray generateVCards(int contacts, int photoEvery = 10, int photoBytes = 20 * 1024);
