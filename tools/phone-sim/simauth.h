#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct evp_pkey_st;

// The phone's side of adb AUTH, written apart from the host library's key code so that a mistake on one side
// can not hide one on the other.
namespace simauth {

struct PublicKey
{
    QByteArray base64; // the key as it appears in an adb_keys line, without the comment
    std::shared_ptr<evp_pkey_st> key;
};

// Decodes an Android public key ("BASE64 user@host", NUL-terminated or not) and checks every field of the
// 524-byte structure: 64 words, n0inv = -1/n mod 2^32, rr = 2^4096 mod n, e.
bool decodePublicKey(const QByteArray &line, PublicKey *out, QString *error);
// RSA PKCS#1 v1.5 check of a signature over the 20-byte token taken as a SHA-1 digest.
bool verifyToken(const PublicKey &key, const QByteArray &token, const QByteArray &signature);

} // namespace simauth
