#include "adb/adbkey.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QSysInfo>

#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rsa.h>

#include <mutex>

using namespace Qt::StringLiterals;

namespace {

constexpr int kModulusBytes = 256;

QString opensslError()
{
    const unsigned long code = ERR_get_error();
    if (code == 0)
        return u"unknown OpenSSL error"_s;
    char buf[256];
    ERR_error_string_n(code, buf, sizeof buf);
    ERR_clear_error();
    return QString::fromLatin1(buf);
}

std::mutex g_cacheMutex;
QHash<QString, std::shared_ptr<AdbKey>> &cache()
{
    static QHash<QString, std::shared_ptr<AdbKey>> keys;
    return keys;
}

void appendLe(QByteArray *out, const BIGNUM *bn)
{
    unsigned char buf[kModulusBytes];
    BN_bn2lebinpad(bn, buf, kModulusBytes);
    out->append(reinterpret_cast<const char *>(buf), kModulusBytes);
}

void appendU32(QByteArray *out, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        out->append(char((v >> (8 * i)) & 0xff));
}

} // namespace

AdbKey::~AdbKey()
{
    EVP_PKEY_free(m_key);
}

QString AdbKey::defaultPath()
{
    // Where adb itself keeps it since 2016 (it no longer reads ANDROID_SDK_HOME): sharing this one key means the
    // phone asks its user once for both programs.
    return QDir(QDir::homePath()).filePath(u".android/adbkey"_s);
}

std::shared_ptr<AdbKey> AdbKey::fromPem(const QByteArray &pem, QString *error)
{
    BIO *bio = BIO_new_mem_buf(pem.constData(), int(pem.size()));
    EVP_PKEY *pkey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    if (!pkey) {
        *error = u"AdbKey::fromPem, not a PEM private key: %1"_s.arg(opensslError());
        return nullptr;
    }
    if (EVP_PKEY_get_base_id(pkey) != EVP_PKEY_RSA) {
        EVP_PKEY_free(pkey);
        *error = u"AdbKey::fromPem, not an RSA key"_s;
        return nullptr;
    }
    return std::shared_ptr<AdbKey>(new AdbKey(pkey));
}

void AdbKey::clearCache()
{
    std::lock_guard lock(g_cacheMutex);
    cache().clear();
}

std::shared_ptr<AdbKey> AdbKey::loadOrCreate(const QString &path, QString *error)
{
    std::lock_guard lock(g_cacheMutex);
    if (auto cached = cache().value(path))
        return cached;

    QFile file(path);
    if (file.exists()) {
        if (!file.open(QIODevice::ReadOnly)) {
            *error = u"AdbKey::loadOrCreate, can not read %1: %2"_s.arg(path, file.errorString());
            return nullptr;
        }
        auto key = fromPem(file.readAll(), error);
        if (key)
            cache().insert(path, key);
        return key;
    }

    // No key yet: make one the way adb does, so adb and this program share it from now on.
    EVP_PKEY *pkey = EVP_RSA_gen(2048);
    if (!pkey) {
        *error = u"AdbKey::loadOrCreate, key generation failed: %1"_s.arg(opensslError());
        return nullptr;
    }
    std::shared_ptr<AdbKey> key(new AdbKey(pkey));
    BIO *bio = BIO_new(BIO_s_mem());
    PEM_write_bio_PrivateKey(bio, pkey, nullptr, nullptr, 0, nullptr, nullptr);
    char *data = nullptr;
    const long len = BIO_get_mem_data(bio, &data);
    const QByteArray pem(data, len);
    BIO_free(bio);

    QDir().mkpath(QFileInfo(path).absolutePath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::NewOnly, QFileDevice::ReadOwner | QFileDevice::WriteOwner) ||
        file.write(pem) != pem.size() || !file.flush()) {
        *error = u"AdbKey::loadOrCreate, can not write %1: %2"_s.arg(path, file.errorString());
        return nullptr;
    }
    file.close();
    QFile pub(path + u".pub"_s);
    if (pub.open(QIODevice::WriteOnly | QIODevice::Truncate))
        pub.write(key->publicKeyLine());
    cache().insert(path, key);
    return key;
}

QByteArray AdbKey::signToken(const QByteArray &token, QString *error) const
{
    if (token.size() != 20) {
        *error = u"AdbKey::signToken, token of %1 bytes (20 expected)"_s.arg(token.size());
        return {};
    }
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(m_key, nullptr);
    QByteArray sig;
    size_t len = 0;
    if (ctx && EVP_PKEY_sign_init(ctx) > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
        EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha1()) > 0 &&
        EVP_PKEY_sign(ctx, nullptr, &len, reinterpret_cast<const unsigned char *>(token.constData()),
                      size_t(token.size())) > 0) {
        sig.resize(qsizetype(len));
        if (EVP_PKEY_sign(ctx, reinterpret_cast<unsigned char *>(sig.data()), &len,
                          reinterpret_cast<const unsigned char *>(token.constData()), size_t(token.size())) > 0)
            sig.resize(qsizetype(len));
        else
            sig.clear();
    }
    if (sig.isEmpty())
        *error = u"AdbKey::signToken, %1"_s.arg(opensslError());
    EVP_PKEY_CTX_free(ctx);
    return sig;
}

QByteArray AdbKey::androidPublicKey() const
{
    BIGNUM *n = nullptr;
    BIGNUM *e = nullptr;
    QByteArray out;
    if (EVP_PKEY_get_bn_param(m_key, OSSL_PKEY_PARAM_RSA_N, &n) > 0 &&
        EVP_PKEY_get_bn_param(m_key, OSSL_PKEY_PARAM_RSA_E, &e) > 0 && BN_num_bytes(n) == kModulusBytes) {
        // struct { u32 words; u32 n0inv; u8 n[256]; u8 rr[256]; u32 e; }, little-endian throughout.
        BN_CTX *ctx = BN_CTX_new();
        BIGNUM *r32 = BN_new();
        BIGNUM *n0inv = BN_new();
        BIGNUM *rr = BN_new();
        BN_set_bit(r32, 32);
        BN_mod(n0inv, n, r32, ctx);
        BN_mod_inverse(n0inv, n0inv, r32, ctx);
        BN_sub(n0inv, r32, n0inv); // -(n^-1) mod 2^32
        BN_set_bit(rr, kModulusBytes * 8 * 2);
        BN_mod(rr, rr, n, ctx); // (2^2048)^2 mod n
        appendU32(&out, kModulusBytes / 4);
        appendU32(&out, quint32(BN_get_word(n0inv)));
        appendLe(&out, n);
        appendLe(&out, rr);
        appendU32(&out, quint32(BN_get_word(e)));
        BN_free(r32);
        BN_free(n0inv);
        BN_free(rr);
        BN_CTX_free(ctx);
    }
    BN_free(n);
    BN_free(e);
    return out.toBase64();
}

QByteArray AdbKey::publicKeyLine() const
{
    QString user = qEnvironmentVariable("USER");
    if (user.isEmpty())
        user = qEnvironmentVariable("LOGNAME");
    return androidPublicKey() + ' ' + user.toUtf8() + '@' + QSysInfo::machineHostName().toUtf8();
}
