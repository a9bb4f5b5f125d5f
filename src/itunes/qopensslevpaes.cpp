#include "itunes/qopensslevpaes.h"

#include "core/texts.h"

#include <QIODevice>
#include <QVarLengthArray>

QOpenSSLEVPAES::QOpenSSLEVPAES() : m_ctx(EVP_CIPHER_CTX_new())
{
}

QOpenSSLEVPAES::~QOpenSSLEVPAES()
{
    EVP_CIPHER_CTX_free(m_ctx);
}

bool QOpenSSLEVPAES::init(const EVP_CIPHER *cipher, const QByteArray &key, const QByteArray &iv, bool encrypt)
{
    const bool sizesFit = cipher && (key.isEmpty() || key.size() == EVP_CIPHER_get_key_length(cipher)) &&
                          (iv.isEmpty() || iv.size() == EVP_CIPHER_get_iv_length(cipher));
    const auto *keyBytes = key.isEmpty() ? nullptr : reinterpret_cast<const unsigned char *>(key.constData());
    const auto *ivBytes = iv.isEmpty() ? nullptr : reinterpret_cast<const unsigned char *>(iv.constData());
    if (!m_ctx || !sizesFit || EVP_CipherInit_ex(m_ctx, cipher, nullptr, keyBytes, ivBytes, encrypt ? 1 : 0) != 1) {
        m_error = trKey("QOpenSSLEVPAES::init, EVP_CipherInit_ex return false.");
        return false;
    }
    return true;
}

int QOpenSSLEVPAES::update(const unsigned char *in, int length, unsigned char *out)
{
    int produced = 0;
    if (!m_ctx || EVP_CipherUpdate(m_ctx, out, &produced, in, length) != 1) {
        m_error = trKey("QOpenSSLEVPAES::update, EVP_CipherUpdate return false.");
        return -1;
    }
    return produced;
}

int QOpenSSLEVPAES::final(unsigned char *out)
{
    int produced = 0;
    if (!m_ctx || EVP_CipherFinal_ex(m_ctx, out, &produced) != 1) {
        m_error = trKey("QOpenSSLEVPAES::final, EVP_CipherFinal_ex return false.");
        return -1;
    }
    return produced;
}

qint64 QOpenSSLEVPAES::updateAll(QIODevice *in, QIODevice *out, int blockSize)
{
    QVarLengthArray<unsigned char, 8192> input(blockSize);
    QVarLengthArray<unsigned char, 8192 + 16> output(blockSize + 16);
    qint64 total = 0;
    for (;;) {
        const qint64 got = in->read(reinterpret_cast<char *>(input.data()), blockSize);
        if (got < 0) {
            m_error = trKey("QOpenSSLEVPAES::updateAll, read file error.");
            return -1;
        }
        if (got == 0)
            break;
        int produced = 0;
        if (!m_ctx || EVP_CipherUpdate(m_ctx, output.data(), &produced, input.data(), int(got)) != 1) {
            m_error = trKey("QOpenSSLEVPAES::updateAll, EVP_CipherUpdate return false.");
            return -1;
        }
        if (produced > 0) {
            const qint64 written = out->write(reinterpret_cast<const char *>(output.data()), produced);
            if (written < produced) {
                m_error = trKey("QOpenSSLEVPAES::updateAll, write file error, %1").arg(out->errorString());
                return -1;
            }
            total += written;
        }
    }
    return total;
}

qint64 QOpenSSLEVPAES::finalAll(QIODevice *out, int blockSize)
{
    // The final step writes at most one cipher block; the buffer is never smaller than that.
    QVarLengthArray<unsigned char, 8192> output(qMax(blockSize, EVP_MAX_BLOCK_LENGTH));
    int produced = 0;
    if (!m_ctx || EVP_CipherFinal(m_ctx, output.data(), &produced) != 1) {
        m_error = trKey("QOpenSSLEVPAES::finalAll, EVP_CipherFinal return false.");
        return -1;
    }
    if (produced > 0) {
        const qint64 written = out->write(reinterpret_cast<const char *>(output.data()), produced);
        if (written < produced) {
            m_error = trKey("QOpenSSLEVPAES::finalAll, write file error, %1").arg(out->errorString());
            return -1;
        }
        return written;
    }
    return 0;
}
