#include "simchannel.h"

#include "simcerts.h"

#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>

#include <QtEndian>

#include <csignal>
#include <mutex>

#include <sys/socket.h>
#include <unistd.h>

namespace {

SSL_CTX *g_context = nullptr;
X509 *g_rootCertificate = nullptr;
X509 *g_hostCertificate = nullptr;

X509 *readCertificate(const char *pem)
{
    BIO *bio = BIO_new_mem_buf(pem, -1);
    X509 *cert = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    return cert;
}

QString sslErrors()
{
    QString text;
    while (unsigned long e = ERR_get_error()) {
        char buffer[256];
        ERR_error_string_n(e, buffer, sizeof buffer);
        text += QString::fromLatin1(buffer) + QLatin1Char(' ');
    }
    return text.trimmed();
}

} // namespace

namespace simtls {

bool init(QString *error)
{
    static std::once_flag once;
    static QString failure;
    std::call_once(once, [] {
        std::signal(SIGPIPE, SIG_IGN);
        g_rootCertificate = readCertificate(simcerts::kRootCertificate);
        g_hostCertificate = readCertificate(simcerts::kHostCertificate);
        X509 *deviceCert = readCertificate(simcerts::kDeviceCertificate);
        BIO *bio = BIO_new_mem_buf(simcerts::kDevicePrivateKey, -1);
        EVP_PKEY *deviceKey = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, nullptr);
        BIO_free(bio);
        SSL_CTX *ctx = SSL_CTX_new(TLS_server_method());
        if (!ctx || !deviceCert || !deviceKey || SSL_CTX_use_certificate(ctx, deviceCert) != 1 ||
            SSL_CTX_use_PrivateKey(ctx, deviceKey) != 1) {
            failure = QStringLiteral("TLS set-up failed: %1").arg(sslErrors());
            SSL_CTX_free(ctx);
        } else {
            // The host's certificate is required, but checked against the pair record after the handshake.
            SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT,
                               [](int, X509_STORE_CTX *) { return 1; });
            SSL_CTX_set_session_cache_mode(ctx, SSL_SESS_CACHE_OFF);
            g_context = ctx;
        }
        X509_free(deviceCert);
        EVP_PKEY_free(deviceKey);
    });
    if (!failure.isEmpty() && error)
        *error = failure;
    return failure.isEmpty();
}

} // namespace simtls

SimChannel::~SimChannel()
{
    if (m_ssl)
        SSL_free(m_ssl);
}

bool SimChannel::startTls(QString *error)
{
    if (!simtls::init(error))
        return false;
    m_ssl = SSL_new(g_context);
    SSL_set_fd(m_ssl, m_fd);
    m_tlsClosed = false;
    if (SSL_accept(m_ssl) != 1) {
        *error = QStringLiteral("TLS handshake failed: %1").arg(sslErrors());
        endTls();
        return false;
    }
    X509 *peer = SSL_get1_peer_certificate(m_ssl);
    const bool known = peer && (X509_cmp(peer, g_rootCertificate) == 0 || X509_cmp(peer, g_hostCertificate) == 0);
    X509_free(peer);
    if (!known) {
        *error = QStringLiteral("TLS: the host's certificate is not the one of the pair record");
        endTls();
        return false;
    }
    return true;
}

void SimChannel::endTls()
{
    if (!m_ssl)
        return;
    SSL_set_quiet_shutdown(m_ssl, 1);
    SSL_shutdown(m_ssl);
    SSL_free(m_ssl);
    m_ssl = nullptr;
}

bool SimChannel::readExact(char *buffer, qsizetype n)
{
    qsizetype got = 0;
    while (got < n) {
        if (m_ssl) {
            const int r = SSL_read(m_ssl, buffer + got, int(n - got));
            if (r <= 0) {
                m_tlsClosed = SSL_get_error(m_ssl, r) == SSL_ERROR_ZERO_RETURN;
                return false;
            }
            got += r;
        } else {
            const ssize_t r = ::recv(m_fd, buffer + got, size_t(n - got), 0);
            if (r <= 0)
                return false;
            got += r;
        }
    }
    return true;
}

bool SimChannel::writeAll(const QByteArray &bytes)
{
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        if (m_ssl) {
            const int w = SSL_write(m_ssl, bytes.constData() + sent, int(bytes.size() - sent));
            if (w <= 0)
                return false;
            sent += w;
        } else {
            const ssize_t w = ::send(m_fd, bytes.constData() + sent, size_t(bytes.size() - sent), MSG_NOSIGNAL);
            if (w <= 0)
                return false;
            sent += w;
        }
    }
    return true;
}

bool SimChannel::readFrame(QByteArray *payload, quint32 max)
{
    uchar header[4];
    if (!readExact(reinterpret_cast<char *>(header), 4))
        return false;
    const quint32 length = qFromBigEndian<quint32>(header);
    if (length == 0 || length > max)
        return false;
    payload->resize(length);
    return readExact(payload->data(), length);
}

bool SimChannel::writeFrame(const QByteArray &payload)
{
    QByteArray frame(4, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(payload.size()), frame.data());
    return writeAll(frame + payload);
}
