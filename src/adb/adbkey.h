#pragma once

#include <QByteArray>
#include <QString>

#include <memory>

struct evp_pkey_st;

// The RSA key this computer authenticates with, kept where adb keeps it ($HOME/.android/adbkey, a PEM private
// key, with adbkey.pub beside it), so a phone that trusts this computer's adb trusts us too.
class AdbKey
{
public:
    ~AdbKey();
    AdbKey(const AdbKey &) = delete;
    AdbKey &operator=(const AdbKey &) = delete;

    // adb's key file, $HOME/.android/adbkey (QDir::homePath(), so HOME decides), whatever else is set.
    static QString defaultPath();
    // Reads the PEM key at path (PKCS#8 or PKCS#1); when the file is missing, creates a 2048-bit key there
    // (mode 0600) and its .pub line. Keys are cached per path. Null with error set when neither works.
    static std::shared_ptr<AdbKey> loadOrCreate(const QString &path, QString *error);
    static std::shared_ptr<AdbKey> fromPem(const QByteArray &pem, QString *error);
    static void clearCache();

    // PKCS#1 v1.5 signature of the 20-byte AUTH token taken as a SHA-1 digest (not hashed again).
    QByteArray signToken(const QByteArray &token, QString *error) const;
    // The key in Android's public key format, Base64 (700 characters); empty for keys that are not 2048-bit.
    QByteArray androidPublicKey() const;
    // The .pub line: the Base64 key, a blank and user@host.
    QByteArray publicKeyLine() const;

private:
    explicit AdbKey(evp_pkey_st *key) : m_key(key) {}
    evp_pkey_st *m_key;
};
