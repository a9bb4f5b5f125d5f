#pragma once

// The byte level of vCard reading: a streaming state machine that unfolds lines, splits each logical line
// into its property name, parameters and value, undoes the transfer encoding of the value (quoted-printable
// or Base64) and reports every property through two callbacks. It knows nothing of cards or contacts; the
// card layer (vcard.h) builds on it.

#include <QByteArray>
#include <QList>

#include <vector>

// One parameter of a property header: name, and value or null for a parameter written without "=". The array
// handed to the property-start callback ends with an entry whose name is null. The texts live in the parser's
// buffer and are valid during the callback only.
struct VCardParam
{
    const char *name;
    const char *value;
};

class VCardParser
{
public:
    using PropertyStartCallback = void (*)(void *userData, const char *name, const VCardParam *params);
    // Called once with the whole decoded value of a property when it is not empty, then once with length 0 to
    // mark the end of the property.
    using ValueCallback = void (*)(void *userData, const char *bytes, qsizetype length);

    VCardParser() = default;
    VCardParser(const VCardParser &) = delete;
    VCardParser &operator=(const VCardParser &) = delete;

    void setUserData(void *userData) { m_userData = userData; }
    void setPropertyStartCallback(PropertyStartCallback callback) { m_onPropertyStart = callback; }
    void setValueCallback(ValueCallback callback) { m_onValue = callback; }

    // Parses the next bytes of the input; false once the input has been malformed (a ":" or ";" where a
    // parameter name must start, an invalid Base64 character). A malformed line does not end the parse: its
    // property is dropped (a value already begun ends with the end mark alone) and reading goes on at the
    // next line, so one damaged photo does not cost the cards after it. With final set the input ends here:
    // the line in progress ends too. Whether a quoted-printable soft line break goes on is decided by the start
    // of the next line within the same call, so input fed in pieces is best cut at line starts.
    bool feed(const char *bytes, qsizetype length, bool final);

    // Offset in the whole input of the first rejected byte; -1 while the input is well-formed.
    qint64 errorOffset() const { return m_errorOffset; }
    // Lines dropped because they were malformed.
    int malformedLines() const { return m_malformedLines; }
    // Lines dropped because they had no ":" (counted for the debug log).
    int droppedLines() const { return m_droppedLines; }
    // During a value callback: the offsets in the value where a folded line break left a space (the vCard 2.1
    // reading of a fold). The card layer removes them again in vCard 3.0 and 4.0 cards, where a fold means
    // nothing.
    const QList<qsizetype> &foldSpaces() const { return m_foldSpaces; }

private:
    // Skip: the rest of a malformed line is ignored.
    enum class State { Name, ParamStart, ParamName, ParamValueStart, ParamValue, Value, Skip };
    enum class Encoding { None, QuotedPrintable, Base64, EightBit };
    struct ParamOffsets
    {
        qsizetype name;
        qsizetype value; // -1: written without "="
    };

    bool step(char c);
    void appendByte(char c);
    void endToken();
    // A byte of a property or parameter name other than a line end: ":" ends the header and hands the property
    // on, ";" starts a parameter, blanks are skipped, anything else is part of the name.
    void nameByte(char c);
    void dispatch();
    void decodeQuotedPrintable(char c);
    bool decodeBase64(char c);
    // The value bytes [from, end) of one line (no line feed among them), decoded onto the buffer; the
    // index of a rejected byte, or -1.
    qsizetype valueRun(const char *bytes, qsizetype from, qsizetype end);
    qsizetype decodeBase64Run(const char *bytes, qsizetype from, qsizetype end);
    // Writes the bytes of the complete group in m_base64; returns the end of what it wrote.
    char *emitBase64Group(char *out) const;
    void endProperty();
    void resetProperty();
    void foldIntoValue();
    bool softLineBreak(const char *rest, qsizetype restLength);
    void malformed(qsizetype index);

    void *m_userData = nullptr;
    PropertyStartCallback m_onPropertyStart = nullptr;
    ValueCallback m_onValue = nullptr;

    State m_state = State::Name;
    QByteArray m_buffer; // name, parameter names and values (each ended by a NUL byte), then the value
    std::vector<ParamOffsets> m_params;
    std::vector<VCardParam> m_paramArray;
    qsizetype m_valueStart = 0;
    Encoding m_encoding = Encoding::None;
    bool m_skipLeadingWhitespace = true;
    bool m_paramEscape = false;
    bool m_paramQuoted = false;

    // Quoted-printable: "=" signs waiting for their hexadecimal digits (two when an escape was split by a
    // soft line break, "==" + line break + "D0"), and the first digit once read.
    int m_qpEquals = 0;
    char m_qpFirstDigit = 0;
    bool m_qpHaveFirstDigit = false;

    char m_base64[4] = {};
    int m_base64Count = 0;

    bool m_breakPending = false;
    bool m_continuation = false;
    bool m_blankLine = false;

    QList<qsizetype> m_foldSpaces;
    qint64 m_consumed = 0; // bytes fed before the current call
    qint64 m_errorOffset = -1;
    int m_droppedLines = 0;
    int m_malformedLines = 0;
};
