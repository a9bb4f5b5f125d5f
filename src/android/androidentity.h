#pragma once

// The text of one data row on the companion app's wire: the argument of a "$ent:" line, the id of a "$del:"
// line, and the way back from a received "$ent:" argument to a data row. Type codes travel as words of a fixed
// label table; free text travels as Base64 of its UTF-8 bytes.

#include "contacts/pim.h"

#include <QString>
#include <QStringList>

namespace androidentity {

// The type number that stands for IM protocols (the "data5" of IM rows) in the label table.
inline constexpr int kImProtocol = 99;

// The wire word of a type code; empty for a pair the table lacks. Some words are misspelt ("parnet"): they
// are the app's own words and must stay as they are.
QString labelFor(int type, int code);
// The code of a wire word (exact, case-sensitive match); 0 for a pair the table lacks.
int codeFor(int type, const QString &word);

// Base64 of the text's UTF-8 bytes; empty text gives an empty field.
QString encodeText(const QString &text);
QString decodeText(const QString &field);

// The id a row is sent with: its src_id when it has one (a row that came from the phone), else the local form
// "type/part2/part3/-row _id" whose negative last part marks a row the phone does not know yet.
QString rowId(int type, qint64 part2, qint64 part3, const pim::DataRow &row);
// The argument of "$ent:": the id followed by the type's fields, each preceded by one comma.
QString encodeRow(int type, qint64 part2, qint64 part3, const pim::DataRow &row);
// The argument of "$del:": the id alone.
QString encodeDeleteId(int type, qint64 part2, qint64 part3, const pim::DataRow &row);
// Whether the text is a row id "a/b/c/d" (decimal, optional leading minus, nothing else); its parts go to the
// outputs that are given. A number that does not fit (32 bits for the type, 64 for the others) is no id.
bool parseRowId(const QString &text, int *type = nullptr, qint64 *part2 = nullptr, qint64 *part3 = nullptr,
                qint64 *part4 = nullptr);
// Fills the row from the comma-separated fields of a received "$ent:" argument (field 0 is the id). A field
// that is not there leaves its column unset.
void decodeRow(const QStringList &fields, int type, pim::DataRow &row);

} // namespace androidentity
