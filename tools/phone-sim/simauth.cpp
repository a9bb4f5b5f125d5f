#include "simauth.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

using namespace Qt::StringLiterals;

namespace simauth {

namespace {

quint32 le32(const char *p)
{
    return quint32(quint8(p[0])) | quint32(quint8(p[1])) << 8 | quint32(quint8(p[2])) << 16 |
           quint32(quint8(p[3])) << 24;
}

BIGNUM *fromLe(const char *p, int len)
{
    return BN_lebin2bn(reinterpret_cast<const unsigned char *>(p), len, nullptr);
}

} // namespace

bool decodePublicKey(const QByteArray &line, PublicKey *out, QString *error)
{
    QByteArray text = line;
    while (text.endsWith('\0'))
        text.chop(1);
    qsizetype end = 0;
    while (end < text.size() && text.at(end) != ' ' && text.at(end) != '\t')
        ++end;
    const QByteArray b64 = text.left(end);
    const auto decoded = QByteArray::fromBase64Encoding(b64, QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded || decoded.decoded.size() != 524) {
        *error = u"public key does not decode to 524 bytes"_s;
        return false;
    }
    const char *p = decoded.decoded.constData();
    if (le32(p) != 64) {
        *error = u"public key of %1 words (64 expected)"_s.arg(le32(p));
        return false;
    }
    // n0inv by Newton's iteration on 32-bit words: x = 1/n0 mod 2^32, then negate.
    const quint32 n0 = le32(p + 8);
    quint32 x = n0;
    for (int i = 0; i < 5; ++i)
        x *= 2 - n0 * x;
    if (quint32(0u - x) != le32(p + 4)) {
        *error = u"public key with a wrong n0inv"_s;
        return false;
    }
    BIGNUM *n = fromLe(p + 8, 256);
    BIGNUM *rr = fromLe(p + 264, 256);
    BIGNUM *e = BN_new();
    BN_set_word(e, le32(p + 520));
    BIGNUM *r = BN_new();
    BIGNUM *expect = BN_new();
    BN_CTX *ctx = BN_CTX_new();
    BN_one(r);
    BN_mod_lshift(r, r, 2048, n, ctx); // R mod n
    BN_mod_mul(expect, r, r, n, ctx);  // R^2 mod n
    bool ok = BN_cmp(expect, rr) == 0 && BN_num_bits(n) == 2048;
    if (!ok)
        *error = u"public key with a wrong rr"_s;

    EVP_PKEY *pkey = nullptr;
    if (ok) {
        OSSL_PARAM_BLD *bld = OSSL_PARAM_BLD_new();
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_N, n);
        OSSL_PARAM_BLD_push_BN(bld, OSSL_PKEY_PARAM_RSA_E, e);
        OSSL_PARAM *params = OSSL_PARAM_BLD_to_param(bld);
        EVP_PKEY_CTX *pctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
        ok =
            pctx && EVP_PKEY_fromdata_init(pctx) > 0 && EVP_PKEY_fromdata(pctx, &pkey, EVP_PKEY_PUBLIC_KEY, params) > 0;
        if (!ok)
            *error = u"public key rejected by OpenSSL"_s;
        EVP_PKEY_CTX_free(pctx);
        OSSL_PARAM_free(params);
        OSSL_PARAM_BLD_free(bld);
    }
    BN_CTX_free(ctx);
    BN_free(expect);
    BN_free(r);
    BN_free(e);
    BN_free(rr);
    BN_free(n);
    if (!ok)
        return false;
    out->base64 = b64;
    out->key = std::shared_ptr<evp_pkey_st>(pkey, EVP_PKEY_free);
    return true;
}

bool verifyToken(const PublicKey &key, const QByteArray &token, const QByteArray &signature)
{
    EVP_PKEY_CTX *ctx = EVP_PKEY_CTX_new(key.key.get(), nullptr);
    const bool ok =
        ctx && EVP_PKEY_verify_init(ctx) > 0 && EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_PKCS1_PADDING) > 0 &&
        EVP_PKEY_CTX_set_signature_md(ctx, EVP_sha1()) > 0 &&
        EVP_PKEY_verify(ctx, reinterpret_cast<const unsigned char *>(signature.constData()), size_t(signature.size()),
                        reinterpret_cast<const unsigned char *>(token.constData()), size_t(token.size())) == 1;
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

} // namespace simauth
