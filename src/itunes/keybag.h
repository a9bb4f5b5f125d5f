#pragma once

#include <QByteArray>
#include <QMap>
#include <QString>

#include <functional>

#include <openssl/evp.h>

// The keybag of an encrypted backup ("BackupKeyBag" of Manifest.plist): keybag attributes and the class keys,
// each a table from 4-character tag to value bytes. unlockKeybag() adds "KEY", the unwrapped class key.
using ClassKey = QMap<QString, QByteArray>;

struct Keybag
{
    QMap<QString, QByteArray> attributes;
    QMap<int, ClassKey> classKeys; // by class number, ascending
};

// A numeric keybag value: the first 4 bytes, big-endian, unsigned. A value shorter than 4 bytes, or one above
// INT_MAX, has no number: ok is false and the result 0.
int keybagNumber(const QByteArray &value, bool *ok = nullptr);

// Reads the TLV items (4-byte ASCII tag, 4-byte big-endian length, value). The first "UUID" and the first "WRAP"
// are the keybag's; each later "UUID" opens a class key that takes "CLAS", "WRAP", "WPKY", "KTYP" and "PBKY";
// every other tag is a keybag attribute. An item that runs past the end ends the reading; a class key without a
// valid "CLAS" number is dropped.
Keybag parseKeybag(const QByteArray &data);

// The most iterations any iOS version writes into a keybag ("DPIC" 10,000,000 since iOS 10.2; "ITER" 10,000).
// A count above it would keep the password check busy for up to an hour: the keybag is taken as damaged.
inline constexpr int kMaxKeybagIterations = 10'000'000;

// Derives the password key (PBKDF2-HMAC-SHA256 over "DPSL"/"DPIC" first when both are there, then
// PBKDF2-HMAC-SHA1 over "SALT"/"ITER") and unwraps every class key whose "WRAP" has bit 2, storing "KEY".
// False for a wrong password (a class key does not unwrap), for a keybag without a usable "ITER", and for a
// keybag where no class key is wrapped by the password (nothing would have checked it). Throws
// std::runtime_error for an iteration count above kMaxKeybagIterations, and StepCancelled when `cancelled`
// returns true during the derivation (it is asked a few hundred times a second).
bool unlockKeybag(const QByteArray &passwordUtf8, Keybag &keybag, const std::function<bool()> &cancelled = {});

// RFC 3394 AES key wrap or unwrap through OpenSSL's wrap ciphers; the key length (16, 24 or 32 bytes) picks
// AES-128, -192 or -256. Empty on any failure, including a failed integrity check.
QByteArray aesKeyWrap(const QByteArray &key, const QByteArray &data, bool encrypt);

// Unwraps a 40-byte wrapped key with the "KEY" of a class; empty when the class is unknown, the wrapped key is
// not 40 bytes, or the unwrap fails.
QByteArray unwrapClassKey(const Keybag &keybag, int classNumber, const QByteArray &wrapped40);

// PBKDF2-HMAC (RFC 8018) filling out to its present length; false for 0 iterations, an empty output or an
// OpenSSL failure. Gives the same bytes as PKCS5_PBKDF2_HMAC, but asks `cancelled` every 4096 iterations and
// throws StepCancelled when it returns true.
bool pbkdf2(const QByteArray &password, const QByteArray &salt, int iterations, const EVP_MD *digest, QByteArray &out,
            const std::function<bool()> &cancelled = {});

// The first 16 bytes of SHA-1(password bytes + salt bytes): the key of the enciphered file descriptions of a
// Manifest.db whose Properties table holds a 'salt'.
QByteArray descriptionKey(const QByteArray &passwordUtf8, const QByteArray &salt);
