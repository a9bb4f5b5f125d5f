#pragma once

#include <QString>

#include <openssl/evp.h>

class QIODevice;

// One AES run (key wrap or CBC) through an OpenSSL cipher context, used as a local object. Operations report
// failure by their result and leave the reason in errorString().
//
// A failing final step (bad padding, which is what a wrong key or a damaged file gives) is a failure here:
// final() and finalAll() return -1 then, so no caller takes a file without its last block for a whole one.
class QOpenSSLEVPAES
{
public:
    QOpenSSLEVPAES();
    ~QOpenSSLEVPAES();
    QOpenSSLEVPAES(const QOpenSSLEVPAES &) = delete;
    QOpenSSLEVPAES &operator=(const QOpenSSLEVPAES &) = delete;

    EVP_CIPHER_CTX *context() const { return m_ctx; }

    // EVP_CipherInit_ex with no engine; empty key or IV bytes pass no pointer. Key or IV bytes whose length is
    // not the cipher's are refused (OpenSSL would read past them).
    bool init(const EVP_CIPHER *cipher, const QByteArray &key, const QByteArray &iv, bool encrypt);
    // Bytes written to out (room for length + one block), or -1.
    int update(const unsigned char *in, int length, unsigned char *out);
    // Bytes written to out (room for one block), or -1.
    int final(unsigned char *out);

    // Streams in to out in blocks of blockSize bytes; the total written, or -1.
    qint64 updateAll(QIODevice *in, QIODevice *out, int blockSize);
    // Writes the final block; the bytes written, or -1 when the final step or the write fails.
    qint64 finalAll(QIODevice *out, int blockSize);

    QString errorString() const { return m_error; }

private:
    EVP_CIPHER_CTX *m_ctx;
    QString m_error;
};
