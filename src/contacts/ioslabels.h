#pragma once

// The labels an iPhone gives phones, e-mails, addresses, URLs, IM accounts, dates and related names, and the
// type codes of the rows they stand for. The phone writes its own labels as tokens ("_$!<Mobile>!$_",
// "_$!<OtherFAX>!$_") and a few as plain words ("iPhone"); a label it does not know is the user's own text.
// One table serves the phone link and the backup reader, in both directions.

#include <QString>

namespace ioslabels {

// The type code a label of the phone stands for in rows of the entity type; -1 for a label that is not one of
// the phone's own (a custom label).
int codeOfLabel(int entityType, const QString &label);

// The type code of a label read from another program's file (a vCard's X-ABLabel): the phone's labels
// compared without regard to case, as writers vary it ("_$!<mobile>!$_"), and the few tokens Apple's desktop
// address book writes that the phone has no label of its own for ("_$!<AssistantPhone>!$_"); -1 otherwise.
// The phone link keeps to codeOfLabel, which takes the phone's labels exactly as it writes them.
int codeOfFileLabel(int entityType, const QString &label);

// The phone's token for a type code, after nearestCode(); empty when the entity has no token for it.
QString labelOfCode(int entityType, int code);

// A type code the phone has a label for: the code itself when it has one, else the closest one (a work mobile
// is a mobile, a company's main number a main number, a blog a home page); "other" only when nothing is
// close.
int nearestCode(int entityType, int code);

// The text a custom label keeps: a token the table does not know ("_$!<School>!$_") becomes its word
// ("School"), any other text stays as it is.
QString customLabelText(const QString &label);

} // namespace ioslabels
