#include "itunes/keybag.h"

#include "core/progress.h"
#include "itunes/qopensslevpaes.h"

#include <QCryptographicHash>
#include <QtEndian>

#include <algorithm>
#include <climits>
#include <memory>
#include <stdexcept>

using namespace Qt::StringLiterals;

namespace {

bool hasPasswordWrap(const ClassKey &classKey)
{
    return (keybagNumber(classKey.value(u"WRAP"_s)) & 2) != 0;
}

void checkIterations(const char *tag, int count)
{
    if (count > kMaxKeybagIterations)
        throw std::runtime_error(QStringLiteral("The backup is damaged: its keybag asks for %1 iterations of %2, "
                                                "more than any iOS version writes (%3).")
                                     .arg(count)
                                     .arg(QLatin1String(tag))
                                     .arg(kMaxKeybagIterations)
                                     .toStdString());
}

using MdContext = std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)>;

MdContext newContext()
{
    return MdContext(EVP_MD_CTX_new(), &EVP_MD_CTX_free);
}

// HMAC with the key's inner and outer hash states made once and copied for every message: the work of one
// PBKDF2 iteration is then two short hashes, as in OpenSSL's own PBKDF2.
class Hmac
{
public:
    Hmac(const EVP_MD *digest, const QByteArray &key) : m_digest(digest)
    {
        const int block = EVP_MD_get_block_size(digest);
        QByteArray k = key;
        if (k.size() > block) {
            unsigned char hashed[EVP_MAX_MD_SIZE];
            unsigned int length = 0;
            if (EVP_Digest(k.constData(), size_t(k.size()), hashed, &length, digest, nullptr) != 1)
                return;
            k = QByteArray(reinterpret_cast<const char *>(hashed), int(length));
        }
        k.resize(block, '\0');
        QByteArray ipad(block, '\0'), opad(block, '\0');
        for (int i = 0; i < block; ++i) {
            ipad[i] = char(k[i] ^ 0x36);
            opad[i] = char(k[i] ^ 0x5c);
        }
        m_ok = m_inner && m_outer && m_work && EVP_DigestInit_ex(m_inner.get(), digest, nullptr) == 1 &&
               EVP_DigestUpdate(m_inner.get(), ipad.constData(), size_t(block)) == 1 &&
               EVP_DigestInit_ex(m_outer.get(), digest, nullptr) == 1 &&
               EVP_DigestUpdate(m_outer.get(), opad.constData(), size_t(block)) == 1;
    }

    bool ok() const { return m_ok; }
    int size() const { return EVP_MD_get_size(m_digest); }

    // out receives size() bytes.
    bool mac(const unsigned char *data, size_t length, unsigned char *out)
    {
        unsigned char inner[EVP_MAX_MD_SIZE];
        unsigned int innerLength = 0, outerLength = 0;
        return EVP_MD_CTX_copy_ex(m_work.get(), m_inner.get()) == 1 &&
               EVP_DigestUpdate(m_work.get(), data, length) == 1 &&
               EVP_DigestFinal_ex(m_work.get(), inner, &innerLength) == 1 &&
               EVP_MD_CTX_copy_ex(m_work.get(), m_outer.get()) == 1 &&
               EVP_DigestUpdate(m_work.get(), inner, innerLength) == 1 &&
               EVP_DigestFinal_ex(m_work.get(), out, &outerLength) == 1;
    }

private:
    const EVP_MD *m_digest;
    MdContext m_inner = newContext();
    MdContext m_outer = newContext();
    MdContext m_work = newContext();
    bool m_ok = false;
};

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

bool unlockKeybag(const QByteArray &passwordUtf8, Keybag &keybag, const std::function<bool()> &cancelled)
{
    const QMap<QString, QByteArray> &attrs = keybag.attributes;
    bool iterOk = false;
    const int iter = keybagNumber(attrs.value(u"ITER"_s), &iterOk);
    if (!iterOk)
        return false;
    checkIterations("ITER", iter);
    const bool twoRounds = attrs.contains(u"DPIC"_s) && attrs.contains(u"DPSL"_s);
    bool dpicOk = false;
    const int dpic = twoRounds ? keybagNumber(attrs.value(u"DPIC"_s), &dpicOk) : 0;
    if (twoRounds && dpicOk)
        checkIterations("DPIC", dpic);

    QByteArray passwordKey(32, '\0');
    if (twoRounds) {
        QByteArray first(32, '\0');
        if (!dpicOk || !pbkdf2(passwordUtf8, attrs.value(u"DPSL"_s), dpic, EVP_sha256(), first, cancelled))
            return false;
        if (!pbkdf2(first, attrs.value(u"SALT"_s), iter, EVP_sha1(), passwordKey, cancelled))
            return false;
    } else if (!pbkdf2(passwordUtf8, attrs.value(u"SALT"_s), iter, EVP_sha1(), passwordKey, cancelled)) {
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
    const int produced =
        aes.update(reinterpret_cast<const unsigned char *>(data.constData()), int(data.size()), buffer);
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

bool pbkdf2(const QByteArray &password, const QByteArray &salt, int iterations, const EVP_MD *digest, QByteArray &out,
            const std::function<bool()> &cancelled)
{
    if (iterations < 1 || out.isEmpty())
        return false;
    Hmac hmac(digest, password);
    if (!hmac.ok())
        return false;
    const int size = hmac.size();
    QByteArray block = salt + QByteArray(4, '\0');
    unsigned char u[EVP_MAX_MD_SIZE];
    unsigned char t[EVP_MAX_MD_SIZE];
    for (qsizetype done = 0, index = 1; done < out.size(); ++index) {
        qToBigEndian<quint32>(quint32(index), block.data() + salt.size());
        if (!hmac.mac(reinterpret_cast<const unsigned char *>(block.constData()), size_t(block.size()), u))
            return false;
        std::copy(u, u + size, t);
        for (int n = 1; n < iterations; ++n) {
            if ((n & 4095) == 0 && cancelled && cancelled())
                throw StepCancelled();
            if (!hmac.mac(u, size_t(size), u))
                return false;
            for (int i = 0; i < size; ++i)
                t[i] ^= u[i];
        }
        const qsizetype take = std::min<qsizetype>(size, out.size() - done);
        std::copy(t, t + take, out.data() + done);
        done += take;
    }
    return true;
}

QByteArray descriptionKey(const QByteArray &passwordUtf8, const QByteArray &salt)
{
    return QCryptographicHash::hash(passwordUtf8 + salt, QCryptographicHash::Sha1).left(16);
}
