#include "contacts/contactname.h"

using namespace Qt::StringLiterals;

namespace pim {

bool hasPersonName(const DataRow &nameRow)
{
    for (const QString &column : {u"data2"_s, u"data3"_s, u"data4"_s, u"data5"_s, u"data6"_s})
        if (!nameRow.text(column).trimmed().isEmpty())
            return true;
    return false;
}

QString companyShownAs(const DataRow &nameRow, const DataRow &organization)
{
    return hasPersonName(nameRow) ? QString() : organization.text(u"data1"_s).trimmed();
}

bool isCompanyContact(const Contact &contact)
{
    return !companyShownAs(contact.firstRow(ENTITY_NAME), contact.firstRow(ENTITY_ORGANIZATION)).isEmpty();
}

QString shownName(const DataRow &nameRow, const DataRow &organization)
{
    const QString company = companyShownAs(nameRow, organization);
    if (!company.isEmpty())
        return company;
    const QString given = nameRow.text(u"data1"_s).trimmed();
    return given.isEmpty() ? displayName(nameRow) : given;
}

QString shownName(const Contact &contact)
{
    return shownName(contact.firstRow(ENTITY_NAME), contact.firstRow(ENTITY_ORGANIZATION));
}

bool makeCompanyContact(Contact &contact)
{
    const QString company = companyShownAs(contact.firstRow(ENTITY_NAME), contact.firstRow(ENTITY_ORGANIZATION));
    if (company.isEmpty())
        return false;
    QList<DataRow> &names = contact.entities[ENTITY_NAME];
    if (names.isEmpty())
        names.append(DataRow());
    DataRow &name = names.first();
    for (const QString &column : {u"data2"_s, u"data3"_s, u"data4"_s, u"data5"_s, u"data6"_s})
        if (name.has(column))
            name.setValue(column, QString());
    name.setValue(u"data1"_s, QString());
    contact.full_name = company;
    return true;
}

} // namespace pim
