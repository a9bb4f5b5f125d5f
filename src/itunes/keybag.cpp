#include "keybag.h"

#include "qopensslevpaes.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <climits>

using namespace Qt::StringLiterals;

namespace {

bool hasPasswordWrap(const ClassKey &classKey)
{
    return (keybagNumber(classKey.value(u"WRAP"_s)) & 2) != 0;
}

} // namespace

int keybagNumber(const QByteArray &value, bool *ok)
{
    if (ok)
        *ok = false;
    if (value.size() < 4)
        return 0;
    const quint32 number = qFromBigEndian<quint32>(value.constData());
    if (number > quint32(INT_MAX))
        return 0;
    if (ok)
        *ok = true;
    return int(number);
}

Keybag parseKeybag(const QByteArray &data)
{
    Keybag keybag;
    ClassKey current;
    // Files a class key under its class number; one whose number is unreadable is left out.
    const auto storeCurrent = [&keybag, &current] {
        if (!current.contains(u"CLAS"_s))
            return;
        bool ok = false;
        const int classNumber = keybagNumber(current.value(u"CLAS"_s), &ok);
        if (ok)
            keybag.classKeys.insert(classNumber, current);
    };

    qsizetype pos = 0;
    while (data.size() - pos >= 8) {
        const QString tag = QString::fromLatin1(data.constData() + pos, 4);
        const quint32 length = qFromBigEndian<quint32>(data.constData() + pos + 4);
        pos += 8;
        if (length > quint64(data.size() - pos))
            break; // a truncated item: what came before stays
        const QByteArray value = data.mid(pos, qsizetype(length));
        pos += qsizetype(length);

        if (tag == u"UUID" && !keybag.attributes.contains(tag)) {
            keybag.attributes.insert(tag, value);
        } else if (tag == u"WRAP" && !keybag.attributes.contains(tag)) {
            keybag.attributes.insert(tag, value);
        } else if (tag == u"UUID") {
            storeCurrent();
            current.clear();
            current.insert(tag, value);
        } else if (tag == u"CLAS" || tag == u"WRAP" || tag == u"WPKY" || tag == u"KTYP" || tag == u"PBKY") {
            current.insert(tag, value);
        } else {
            keybag.attributes.insert(tag, value);
        }
        storeCurrent();
    }
    return keybag;
}

bool unlockKeybag(const QByteArray &passwordUtf8, Keybag &keybag)
{
    const QMap<QString, QByteArray> &attrs = keybag.attributes;
    bool iterOk = false;
    const int iter = keybagNumber(attrs.value(u"ITER"_s), &iterOk);
    if (!iterOk)
        return false;

    QByteArray passwordKey(32, '\0');
    if (attrs.contains(u"DPIC"_s) && attrs.contains(u"DPSL"_s)) {
        bool dpicOk = false;
        const int dpic = keybagNumber(attrs.value(u"DPIC"_s), &dpicOk);
        QByteArray first(32, '\0');
        if (!dpicOk || !pbkdf2(passwordUtf8, attrs.value(u"DPSL"_s), dpic, EVP_sha256(), first))
            return false;
        if (!pbkdf2(first, attrs.value(u"SALT"_s), iter, EVP_sha1(), passwordKey))
            return false;
    } else if (!pbkdf2(passwordUtf8, attrs.value(u"SALT"_s), iter, EVP_sha1(), passwordKey)) {
        return false;
    }

    int unwrapped = 0;
    for (ClassKey &classKey : keybag.classKeys) {
        if (!classKey.contains(u"WPKY"_s) || !hasPasswordWrap(classKey))
            continue; // device-wrapped only: not ours to open
        const QByteArray key = aesKeyWrap(passwordKey, classKey.value(u"WPKY"_s), false);
        if (key.isEmpty())
            return false; // the integrity check failed: wrong password
        classKey.insert(u"KEY"_s, key);
        ++unwrapped;
    }
    // A keybag where no class key depends on the password would take any password; real backup keybags always
    // have such classes, so this is a damaged keybag.
    return unwrapped > 0;
}

QByteArray aesKeyWrap(const QByteArray &key, const QByteArray &data, bool encrypt)
{
    const EVP_CIPHER *cipher = nullptr;
    switch (key.size() * 8) {
    case 128:
        cipher = EVP_aes_128_wrap();
        break;
    case 192:
        cipher = EVP_aes_192_wrap();
        break;
    case 256:
        cipher = EVP_aes_256_wrap();
        break;
    default:
        return QByteArray();
    }

    QOpenSSLEVPAES aes;
    EVP_CIPHER_CTX_reset(aes.context());
    EVP_CIPHER_CTX_set_flags(aes.context(), EVP_CIPHER_CTX_FLAG_WRAP_ALLOW);
    if (!aes.init(cipher, key, QByteArray(), encrypt))
        return QByteArray();
    // Wrapping adds 8 bytes and unwrapping removes them; twice the input (and at least one block) is room for
    // either.
    QByteArray out(qMax(data.size() * 2, qsizetype(EVP_MAX_BLOCK_LENGTH)), '\0');
    auto *buffer = reinterpret_cast<unsigned char *>(out.data());
    const int produced = aes.update(reinterpret_cast<const unsigned char *>(data.constData()), int(data.size()), buffer);
    if (produced < 0)
        return QByteArray();
    const int finished = aes.final(buffer + produced);
    if (finished < 0)
        return QByteArray();
    out.truncate(produced + finished);
    return out;
}

QByteArray unwrapClassKey(const Keybag &keybag, int classNumber, const QByteArray &wrapped40)
{
    const auto it = keybag.classKeys.constFind(classNumber);
    if (it == keybag.classKeys.constEnd() || wrapped40.size() != 40)
        return QByteArray();
    return aesKeyWrap(it->value(u"KEY"_s), wrapped40, false);
}

bool pbkdf2(const QByteArray &password, const QByteArray &salt, int iterations, const EVP_MD *digest,
            QByteArray &out)
{
    if (iterations < 1 || out.isEmpty())
        return false;
    return PKCS5_PBKDF2_HMAC(password.constData(), int(password.size()),
                             reinterpret_cast<const unsigned char *>(salt.constData()), int(salt.size()), iterations,
                             digest, int(out.size()), reinterpret_cast<unsigned char *>(out.data()))
           == 1;
}

QByteArray descriptionKey(const QByteArray &passwordUtf8, const QByteArray &salt)
{
    return QCryptographicHash::hash(passwordUtf8 + salt, QCryptographicHash::Sha1).left(16);
}
