#include "adb/adbprotocol.h"

#include <QtEndian>

using namespace Qt::StringLiterals;

namespace adbproto {

quint32 checksum(QByteArrayView data)
{
    quint32 sum = 0;
    for (char c : data)
        sum += static_cast<quint8>(c);
    return sum;
}

void appendU32(QByteArray *out, quint32 v)
{
    char b[4];
    qToLittleEndian(v, b);
    out->append(b, 4);
}

void appendU64(QByteArray *out, quint64 v)
{
    char b[8];
    qToLittleEndian(v, b);
    out->append(b, 8);
}

quint32 readU32(const char *p)
{
    return qFromLittleEndian<quint32>(p);
}

QByteArray encodeHeader(const Message &msg)
{
    QByteArray out;
    out.reserve(kHeaderSize);
    appendU32(&out, msg.command);
    appendU32(&out, msg.arg0);
    appendU32(&out, msg.arg1);
    appendU32(&out, quint32(msg.payload.size()));
    appendU32(&out, checksum(msg.payload));
    appendU32(&out, msg.command ^ 0xffffffffu);
    return out;
}

QByteArray encode(const Message &msg)
{
    return encodeHeader(msg) + msg.payload;
}

QString commandName(quint32 command)
{
    switch (command) {
    case A_SYNC:
        return u"SYNC"_s;
    case A_CNXN:
        return u"CNXN"_s;
    case A_AUTH:
        return u"AUTH"_s;
    case A_OPEN:
        return u"OPEN"_s;
    case A_OKAY:
        return u"OKAY"_s;
    case A_CLSE:
        return u"CLSE"_s;
    case A_WRTE:
        return u"WRTE"_s;
    case A_STLS:
        return u"STLS"_s;
    }
    return u"0x%1"_s.arg(command, 8, 16, QLatin1Char('0'));
}

bool decodeHeader(const char *bytes, Header *out, quint32 maxPayload, QString *error)
{
    Header h;
    h.command = readU32(bytes);
    h.arg0 = readU32(bytes + 4);
    h.arg1 = readU32(bytes + 8);
    h.length = readU32(bytes + 12);
    h.check = readU32(bytes + 16);
    h.magic = readU32(bytes + 20);
    if (h.magic != (h.command ^ 0xffffffffu)) {
        *error = u"malformed header (command %1, magic 0x%2)"_s.arg(commandName(h.command))
                     .arg(h.magic, 8, 16, QLatin1Char('0'));
        return false;
    }
    if (h.length > maxPayload) {
        *error =
            u"%1 payload of %2 bytes exceeds maxdata %3"_s.arg(commandName(h.command)).arg(h.length).arg(maxPayload);
        return false;
    }
    *out = h;
    return true;
}

bool isKnownCommand(quint32 command)
{
    switch (command) {
    case A_CNXN:
    case A_AUTH:
    case A_OPEN:
    case A_OKAY:
    case A_CLSE:
    case A_WRTE:
    case A_STLS:
        return true;
    }
    return false;
}

Banner parseBanner(QByteArrayView payload)
{
    QString text = QString::fromUtf8(payload);
    while (text.endsWith(QChar(0)))
        text.chop(1);
    Banner b;
    // type:serial:props; the props themselves may hold further colons.
    const qsizetype first = text.indexOf(QLatin1Char(':'));
    b.type = first < 0 ? text : text.left(first);
    if (first < 0)
        return b;
    const qsizetype second = text.indexOf(QLatin1Char(':'), first + 1);
    if (second < 0)
        return b;
    const QStringList entries = text.mid(second + 1).split(QLatin1Char(';'), Qt::SkipEmptyParts);
    for (const QString &entry : entries) {
        const qsizetype eq = entry.indexOf(QLatin1Char('='));
        if (eq <= 0)
            continue;
        const QString key = entry.left(eq);
        const QString value = entry.mid(eq + 1);
        if (key == QLatin1String("features"))
            b.features = value.split(QLatin1Char(','), Qt::SkipEmptyParts);
        else
            b.props.insert(key, value);
    }
    return b;
}

QString bannerTypeProblem(const QString &type)
{
    if (type == u"device"_s)
        return {};
    // The modes a phone reboots into for updates and repairs: adbd runs there without the package manager.
    if (type == u"recovery"_s || type == u"sideload"_s || type == u"rescue"_s || type == u"bootloader"_s)
        return u"the phone is in %1 mode; restart it normally to reach its contacts"_s.arg(type);
    return u"the other side is not a phone in normal mode (it calls itself \"%1\")"_s.arg(type);
}

QByteArray buildBanner(const QString &type, const QMap<QString, QString> &props, const QStringList &features)
{
    QString text = type + u"::"_s;
    for (auto it = props.cbegin(); it != props.cend(); ++it)
        text += it.key() + QLatin1Char('=') + it.value() + QLatin1Char(';');
    text += u"features="_s + features.join(QLatin1Char(','));
    return text.toUtf8();
}

QByteArray shellFrame(quint8 id, QByteArrayView data)
{
    QByteArray out;
    out.reserve(5 + data.size());
    out.append(char(id));
    appendU32(&out, quint32(data.size()));
    out.append(data);
    return out;
}

bool ShellV2Parser::next(quint8 *id, QByteArray *data, QString *error)
{
    if (m_buffer.size() < 5)
        return false;
    const quint8 frameId = quint8(m_buffer.at(0));
    const quint32 len = readU32(m_buffer.constData() + 1);
    if (frameId > ShellWindowSize || len > kMaxPayload) {
        *error = u"bad shell protocol frame (id %1, length %2)"_s.arg(frameId).arg(len);
        return false;
    }
    if (quint32(m_buffer.size()) < 5 + len)
        return false;
    *id = frameId;
    *data = m_buffer.mid(5, len);
    m_buffer.remove(0, 5 + len);
    return true;
}

QByteArray syncRecord(const char id[4], quint32 value)
{
    QByteArray out(id, 4);
    appendU32(&out, value);
    return out;
}

QByteArray syncRecord(const char id[4], QByteArrayView data)
{
    QByteArray out = syncRecord(id, quint32(data.size()));
    out.append(data);
    return out;
}

QString shellQuote(const QString &arg)
{
    QString out = arg;
    out.replace(QLatin1Char('\''), u"'\\''"_s);
    return QLatin1Char('\'') + out + QLatin1Char('\'');
}

} // namespace adbproto
