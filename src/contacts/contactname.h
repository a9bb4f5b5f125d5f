#pragma once

// The name a contact is shown by, one rule for every side: files, phones, backups and the window. A contact
// with some part of a person's name is that person; one without any but with a company stands for the
// company ("display as company" on an iPhone; an Android phone names it by its organization) and is shown by
// it. Such a company contact keeps a name row of empty parts (the person it has not) and its company in its
// organization row, never the company as a first name.

#include "contacts/pim.h"

namespace pim {

// True when the name row holds a prefix, given, middle, family name or suffix (spaces alone count as none).
bool hasPersonName(const DataRow &nameRow);

// The company a contact of this name row and first organization row stands for: the organization's company
// when the name row has no part of a person's name; empty for a person.
QString companyShownAs(const DataRow &nameRow, const DataRow &organization);

// True for a contact without a person's name that has a company.
bool isCompanyContact(const Contact &contact);

// The name shown: a company contact's company; else the name row's display name ("data1", a file's own
// formatted name) when set, else the name its parts make; empty when the contact has neither.
QString shownName(const DataRow &nameRow, const DataRow &organization);
QString shownName(const Contact &contact);

// Turns a contact that has no part of a person's name into a company contact when it has a company: a name
// row of empty parts and empty display name, the company as its full name. False (and nothing changed) for a
// person or a contact without a company.
bool makeCompanyContact(Contact &contact);

} // namespace pim
