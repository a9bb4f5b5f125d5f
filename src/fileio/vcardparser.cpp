#include "fileio/vcardparser.h"

#include <cstring>

namespace {

bool isWhitespace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Base64 digit values; the other entries mark whitespace (skipped), the pad "=" and anything else.
constexpr int kBase64Invalid = -1;
constexpr int kBase64Space = -2;
constexpr int kBase64Pad = -3;

struct Base64Table
{
    int values[256];
    constexpr Base64Table() : values()
    {
        for (int &v : values)
            v = kBase64Invalid;
        for (int k = 0; k < 26; ++k) {
            values['A' + k] = k;
            values['a' + k] = k + 26;
        }
        for (int k = 0; k < 10; ++k)
            values['0' + k] = k + 52;
        values[int('+')] = 62;
        values[int('/')] = 63;
        values[int('=')] = kBase64Pad;
        for (char c : {' ', '\t', '\n', '\v', '\f', '\r'})
            values[int(c)] = kBase64Space;
    }
};

constexpr Base64Table kBase64Table;

// The property buffer is kept up to this size between properties.
constexpr qsizetype kKeptBufferBytes = 256 * 1024;
constexpr const int *kBase64Values = kBase64Table.values;

// True when the bytes start with the probe, ASCII case ignored; false when fewer bytes are there.
bool startsWithNoCase(const char *bytes, qsizetype length, const char *probe)
{
    const qsizetype n = qsizetype(std::strlen(probe));
    return length >= n && qstrnicmp(bytes, probe, size_t(n)) == 0;
}

} // namespace

bool VCardParser::feed(const char *bytes, qsizetype length, bool final)
{
    qsizetype i = 0;
    while (i < length) {
        const char c = bytes[i];
        if (m_breakPending) {
            if (c == '\n') { // blank lines vanish
                m_blankLine = true;
                ++i;
                continue;
            }
            if (!m_continuation) {
                // A carriage return at the start of a line belongs to the line break (a blank CR LF line), so
                // it never makes the following line a continuation of the previous value.
                if (c == '\r') {
                    ++i;
                    continue;
                }
                if (isWhitespace(c)) {
                    m_continuation = true;
                    ++i;
                    continue;
                }
            }
            m_breakPending = false;
            if (m_continuation)
                foldIntoValue();
            else if (!softLineBreak(bytes + i, length - i))
                step('\n'); // a line feed never rejects
        }
        if (c == '\n') {
            m_breakPending = true;
            m_continuation = false;
            m_blankLine = false;
            ++i;
            continue;
        }
        if (m_state == State::Value) {
            // The rest of the value's line in one go rather than byte by byte (photos are most of a file).
            const auto *lineEnd = static_cast<const char *>(std::memchr(bytes + i, '\n', size_t(length - i)));
            const qsizetype end = lineEnd ? lineEnd - bytes : length;
            const qsizetype rejected = valueRun(bytes, i, end);
            if (rejected >= 0) {
                malformed(rejected);
                i = rejected + 1;
            } else {
                i = end;
            }
            continue;
        }
        if (!step(c))
            malformed(i);
        ++i;
    }
    m_consumed += length;
    if (final) {
        // The input ends with the line in progress: end it, so that its property is reported even when the
        // file has no line break after it (a line feed never rejects).
        m_breakPending = false;
        m_continuation = false;
        step('\n');
    }
    return m_errorOffset < 0;
}

void VCardParser::malformed(qsizetype index)
{
    if (m_errorOffset < 0)
        m_errorOffset = m_consumed + index;
    ++m_malformedLines;
    // A property whose value had begun ends without a value.
    if (m_state == State::Value && m_onValue)
        m_onValue(m_userData, m_buffer.constData() + m_valueStart, 0);
    m_state = State::Skip;
}

void VCardParser::foldIntoValue()
{
    // vCard 2.1 reading: the fold becomes one space. An escape cut by the fold is dropped.
    if (m_state == State::Value && m_encoding == Encoding::QuotedPrintable) {
        m_qpEquals = 0;
        m_qpHaveFirstDigit = false;
    }
    const qsizetype before = m_buffer.size();
    step(' ');
    if (m_state == State::Value && m_buffer.size() > before)
        m_foldSpaces.append(before - m_valueStart);
}

bool VCardParser::softLineBreak(const char *rest, qsizetype restLength)
{
    // A quoted-printable line that ends in "=" goes on in the next line (RFC 2045 soft line break), unless a
    // blank line came between or the next line starts a new card or ends this one: a stray "=" before
    // END:VCARD must not swallow the rest of the file.
    if (m_state != State::Value || m_encoding != Encoding::QuotedPrintable || m_qpEquals == 0 || m_qpHaveFirstDigit ||
        m_blankLine)
        return false;
    if (startsWithNoCase(rest, restLength, "END:VCARD") || startsWithNoCase(rest, restLength, "BEGIN:VCARD"))
        return false;
    --m_qpEquals; // the soft break's "=" goes; an escape split across the lines ("==" break "D0") goes on
    return true;
}

void VCardParser::appendByte(char c)
{
    m_buffer.append(c);
}

void VCardParser::endToken()
{
    m_buffer.append('\0');
}

void VCardParser::nameByte(char c)
{
    if (c == ':') {
        endToken();
        dispatch();
    } else if (c == ';') {
        endToken();
        m_state = State::ParamStart;
    } else if (!isWhitespace(c)) {
        appendByte(c);
    }
}

bool VCardParser::step(char c)
{
    switch (m_state) {
    case State::Name:
        if (c == '\n') { // a line without ":" is dropped
            if (!m_buffer.isEmpty())
                ++m_droppedLines;
            resetProperty();
        } else {
            nameByte(c);
        }
        return true;

    case State::ParamStart:
        if (c == '\n') {
            // A header line without ":" is dropped here too, instead of joining the next line into its
            // parameters.
            ++m_droppedLines;
            resetProperty();
            return true;
        }
        if (c == ':')
            return false;
        if (isWhitespace(c))
            return true;
        m_params.push_back({m_buffer.size(), -1});
        appendByte(c);
        m_state = State::ParamName;
        return true;

    case State::ParamName:
        if (c == '\n') {
            ++m_droppedLines;
            resetProperty();
        } else if (c == '=') {
            endToken();
            m_state = State::ParamValueStart;
        } else {
            nameByte(c);
        }
        return true;

    case State::ParamValueStart:
        if (c == '\n') {
            ++m_droppedLines;
            resetProperty();
            return true;
        }
        if (isWhitespace(c))
            return true;
        m_params.back().value = m_buffer.size();
        if (c == ':' || c == ';') {
            // An empty value ("CHARSET=;"), which RFC 2426's grammar allows: the parameter gets the empty
            // value rather than the rest of the file being given up.
            endToken();
            if (c == ':')
                dispatch();
            else
                m_state = State::ParamStart;
            return true;
        }
        m_paramEscape = false;
        m_state = State::ParamValue;
        // A value in double quotes (RFC 2426/6350) may hold ":", ";" and ","; the quotes are not kept.
        m_paramQuoted = c == '"';
        if (!m_paramQuoted)
            appendByte(c);
        return true;

    case State::ParamValue:
        if (c == '\n') {
            ++m_droppedLines;
            resetProperty();
            return true;
        }
        if (m_paramQuoted) {
            if (c == '"')
                m_paramQuoted = false;
            else
                appendByte(c);
            return true;
        }
        if (c == ':') {
            endToken();
            dispatch();
        } else if (c == ';') {
            if (m_paramEscape) {
                m_paramEscape = false;
                appendByte(';');
            } else {
                endToken();
                m_state = State::ParamStart;
            }
        } else if (c == '\\') {
            if (m_paramEscape)
                appendByte('\\');
            m_paramEscape = !m_paramEscape;
        } else if (!isWhitespace(c)) {
            // The escape covers the one character after the backslash.
            m_paramEscape = false;
            appendByte(c);
        }
        return true;

    case State::Skip:
        if (c == '\n')
            resetProperty();
        return true;

    case State::Value:
        if (c == '\n') {
            endProperty();
            return true;
        }
        if (c == '\r')
            return true;
        if (m_skipLeadingWhitespace && isWhitespace(c))
            return true;
        m_skipLeadingWhitespace = false;
        if (m_encoding == Encoding::Base64)
            return decodeBase64(c);
        if (m_encoding == Encoding::QuotedPrintable)
            decodeQuotedPrintable(c);
        else
            appendByte(c);
        return true;
    }
    return true;
}

void VCardParser::dispatch()
{
    // The transfer encoding: the value of an ENCODING parameter, or the name of a bare parameter
    // ("QUOTED-PRINTABLE" alone counts); the last match wins.
    m_encoding = Encoding::None;
    const char *data = m_buffer.constData();
    for (const ParamOffsets &p : m_params) {
        const char *name = data + p.name;
        const char *word = name;
        if (qstricmp(name, "ENCODING") == 0)
            word = p.value >= 0 ? data + p.value : "";
        if (qstricmp(word, "QUOTED-PRINTABLE") == 0)
            m_encoding = Encoding::QuotedPrintable;
        else if (qstricmp(word, "BASE64") == 0 || qstricmp(word, "B") == 0)
            m_encoding = Encoding::Base64;
        else if (qstricmp(word, "8BIT") == 0)
            m_encoding = Encoding::EightBit;
    }

    m_paramArray.clear();
    for (const ParamOffsets &p : m_params)
        m_paramArray.push_back({data + p.name, p.value >= 0 ? data + p.value : nullptr});
    m_paramArray.push_back({nullptr, nullptr});
    if (m_onPropertyStart)
        m_onPropertyStart(m_userData, data, m_paramArray.data());

    m_state = State::Value;
    m_valueStart = m_buffer.size();
    m_skipLeadingWhitespace = true;
}

qsizetype VCardParser::valueRun(const char *bytes, qsizetype from, qsizetype end)
{
    // The same reading as step() byte by byte: carriage returns dropped, leading whitespace skipped, then
    // the transfer decoding.
    qsizetype i = from;
    if (m_skipLeadingWhitespace) {
        while (i < end && isWhitespace(bytes[i]))
            ++i;
        if (i == end)
            return -1;
        m_skipLeadingWhitespace = false;
    }
    switch (m_encoding) {
    case Encoding::Base64:
        return decodeBase64Run(bytes, i, end);
    case Encoding::QuotedPrintable:
        while (i < end) {
            if (m_qpEquals == 0 && !m_qpHaveFirstDigit) {
                qsizetype plain = i;
                while (plain < end && bytes[plain] != '=' && bytes[plain] != '\r')
                    ++plain;
                m_buffer.append(bytes + i, plain - i);
                i = plain;
                if (i == end)
                    break;
            }
            if (bytes[i] != '\r')
                decodeQuotedPrintable(bytes[i]);
            ++i;
        }
        return -1;
    case Encoding::None:
    case Encoding::EightBit:
        while (i < end) {
            const auto *cr = static_cast<const char *>(std::memchr(bytes + i, '\r', size_t(end - i)));
            const qsizetype stop = cr ? cr - bytes : end;
            m_buffer.append(bytes + i, stop - i);
            i = stop + 1;
        }
        return -1;
    }
    return -1;
}

void VCardParser::decodeQuotedPrintable(char c)
{
    if (m_qpHaveFirstDigit) {
        m_qpHaveFirstDigit = false;
        m_qpEquals = 0;
        const int low = hexValue(c);
        if (low >= 0) {
            appendByte(char(hexValue(m_qpFirstDigit) * 16 + low));
            return;
        }
        // Not an escape after all: the bytes stay as written.
        appendByte('=');
        appendByte(m_qpFirstDigit);
        decodeQuotedPrintable(c);
        return;
    }
    if (m_qpEquals > 0) {
        if (hexValue(c) >= 0) {
            if (m_qpEquals == 2)
                appendByte('='); // the earlier "=" had no digits: a literal
            m_qpEquals = 1;
            m_qpFirstDigit = c;
            m_qpHaveFirstDigit = true;
        } else if (c == '=') {
            // Two "=" in a row: either a literal one, or an escape whose digits follow a soft line break.
            if (m_qpEquals == 2)
                appendByte('=');
            m_qpEquals = 2;
        } else {
            for (int k = 0; k < m_qpEquals; ++k)
                appendByte('=');
            m_qpEquals = 0;
            appendByte(c);
        }
        return;
    }
    if (c == '=')
        m_qpEquals = 1;
    else
        appendByte(c);
}

char *VCardParser::emitBase64Group(char *out) const
{
    const int v0 = kBase64Values[uchar(m_base64[0])];
    const int v1 = kBase64Values[uchar(m_base64[1])];
    *out++ = char((v0 << 2) | (v1 >> 4));
    if (m_base64[2] == '=')
        return out;
    const int v2 = kBase64Values[uchar(m_base64[2])];
    *out++ = char(((v1 & 0x0F) << 4) | (v2 >> 2));
    if (m_base64[3] == '=')
        return out;
    *out++ = char(((v2 & 0x03) << 6) | kBase64Values[uchar(m_base64[3])]);
    return out;
}

bool VCardParser::decodeBase64(char c)
{
    return decodeBase64Run(&c, 0, 1) < 0;
}

qsizetype VCardParser::decodeBase64Run(const char *bytes, qsizetype from, qsizetype end)
{
    // Room for every whole group the run can complete, written in place and cut back to what was written.
    const qsizetype start = m_buffer.size();
    m_buffer.resize(start + (m_base64Count + (end - from)) / 4 * 3);
    char *const first = m_buffer.data() + start;
    char *out = first;
    qsizetype rejected = -1;
    for (qsizetype i = from; i < end; ++i) {
        if (m_base64Count == 0) {
            // Whole groups of four digits, the usual case, go straight to the output.
            while (end - i >= 4) {
                const int a = kBase64Values[uchar(bytes[i])];
                const int b = kBase64Values[uchar(bytes[i + 1])];
                const int c = kBase64Values[uchar(bytes[i + 2])];
                const int d = kBase64Values[uchar(bytes[i + 3])];
                if ((a | b | c | d) < 0)
                    break;
                *out++ = char((a << 2) | (b >> 4));
                *out++ = char(((b & 0x0F) << 4) | (c >> 2));
                *out++ = char(((c & 0x03) << 6) | d);
                i += 4;
            }
            if (i == end)
                break;
        }
        const char c = bytes[i];
        const int value = kBase64Values[uchar(c)];
        if (value == kBase64Space)
            continue;
        if (value == kBase64Invalid || (value == kBase64Pad && m_base64Count < 2)) {
            rejected = i;
            break;
        }
        m_base64[m_base64Count] = c;
        if (++m_base64Count < 4)
            continue;
        m_base64Count = 0;
        out = emitBase64Group(out);
    }
    m_buffer.resize(start + (out - first));
    return rejected;
}

void VCardParser::endProperty()
{
    // An incomplete Base64 group is padded; a single character left over carries no byte and is dropped.
    if (m_encoding == Encoding::Base64) {
        if (m_base64Count == 1)
            m_base64Count = 0;
        if (m_base64Count > 0) {
            while (m_base64Count < 4)
                m_base64[m_base64Count++] = '=';
            m_base64Count = 0;
            char group[3];
            m_buffer.append(group, emitBase64Group(group) - group);
        }
    }
    // A quoted-printable escape still waiting for digits at the end of the value is dropped.
    const qsizetype length = m_buffer.size() - m_valueStart;
    if (m_onValue) {
        const char *value = m_buffer.constData() + m_valueStart;
        if (length > 0)
            m_onValue(m_userData, value, length);
        m_onValue(m_userData, value, 0);
    }
    resetProperty();
}

void VCardParser::resetProperty()
{
    m_state = State::Name;
    m_encoding = Encoding::None;
    m_skipLeadingWhitespace = true;
    m_params.clear();
    m_paramEscape = false;
    m_paramQuoted = false;
    m_qpEquals = 0;
    m_qpHaveFirstDigit = false;
    m_base64Count = 0;
    m_foldSpaces.clear();
    m_valueStart = 0;
    // The buffer is reused, photos included (growing it again for every photo costs more than keeping it);
    // one that an unusually large value made big is given back.
    if (m_buffer.capacity() > kKeptBufferBytes)
        m_buffer = QByteArray();
    else
        m_buffer.resize(0);
    if (m_buffer.capacity() < 128)
        m_buffer.reserve(128);
}
