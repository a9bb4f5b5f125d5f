#include "cli/dbcommands.h"

#include "cli/clicommon.h"
#include "cli/contactjson.h"
#include "cli/devices.h"
#include "contacts/combinerule.h"
#include "contacts/localdb.h"
#include "contacts/pim.h"
#include "core/datafolder.h"
#include "core/texts.h"

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QTextStream>

#include <algorithm>
#include <memory>
#include <span>
#include <stdexcept>

namespace cli {

namespace {

qint64 groupIdByName(LocalDb &db, const QString &name)
{
    const auto groups = db.listGroups();
    for (const auto &g : groups)
        if (g.second == name)
            return g.first;
    for (const auto &g : groups)
        if (g.second.compare(name, Qt::CaseInsensitive) == 0)
            return g.first;
    throw std::runtime_error(QStringLiteral("There is no group named \"%1\".").arg(name).toStdString());
}

} // namespace

int runDbs(const QStringList &args, Io io)
{
    const Options options(args, {}, {QStringLiteral("json")});
    if (!options.positional().isEmpty())
        throw UsageException{QStringLiteral("unexpected argument %1").arg(options.positional().first())};

    QJsonArray array;
    int status = Success;
    for (const QString &file : LocalDbFiles::list()) {
        qint64 contacts = 0;
        try {
            // Counted by SQL: loading every contact to count them took gigabytes for large databases.
            auto db = openLocalDb(LocalDbFiles::pathFor(file));
            contacts = db->countContacts();
        } catch (const std::exception &e) {
            // A damaged or foreign file is reported and left alone; it does not hide the databases after it.
            io.err << file << ": " << QString::fromUtf8(e.what()) << '\n';
            status = Failure;
            continue;
        }
        if (options.has(QStringLiteral("json")))
            array.append(QJsonObject{{QStringLiteral("name"), file}, {QStringLiteral("contacts"), double(contacts)}});
        else
            io.out << file << '\t' << contacts << '\n';
    }
    if (options.has(QStringLiteral("json")))
        printJson(io.out, QJsonDocument(array));
    return status;
}

int runList(const QStringList &args, Io io)
{
    const Options options(
        args, {QStringLiteral("db"), QStringLiteral("device"), QStringLiteral("group"), QStringLiteral("keyword")},
        {QStringLiteral("json")});
    // A device lists its contact database (a phone is loaded into its cache first).
    auto db = options.has(QStringLiteral("device"))
                  ? devices::openDeviceDb(phones().find(options.value(QStringLiteral("device"))))
                  : openLocalDb(existingDbPath(options.required(QStringLiteral("db"))));
    const qint64 groupId =
        options.has(QStringLiteral("group")) ? groupIdByName(*db, options.value(QStringLiteral("group"))) : 0;
    // The order and names first, then the rows a batch at a time as they are written: the listing of a million
    // contacts with all their rows at once took gigabytes.
    QList<pim::Contact> contacts = db->listContactHeads(groupId, options.value(QStringLiteral("keyword")));
    const bool json = options.has(QStringLiteral("json"));
    constexpr qsizetype kBatch = 500;
    bool first = true;
    if (json)
        io.out << '[';
    for (qsizetype start = 0; start < contacts.size(); start += kBatch) {
        const std::span<pim::Contact> batch(contacts.data() + start, size_t(std::min(kBatch, contacts.size() - start)));
        db->readContactRows(batch);
        for (pim::Contact &c : batch) {
            // A contact deleted by another process since the order was read is left out, as the listing would.
            if (c.entities.isEmpty())
                continue;
            if (json) {
                // Written one contact at a time, in the layout of an indented array.
                QByteArray element = QJsonDocument(contactToJson(c)).toJson(QJsonDocument::Indented);
                element.chop(1); // the document's closing line feed
                element.replace('\n', "\n    ");
                io.out << (first ? "\n    " : ",\n    ") << QString::fromUtf8(element);
                first = false;
            } else {
                io.out << c._id << '\t' << c.full_name;
                // The first phone or e-mail makes the line useful for finding the right contact.
                for (int type : {int(pim::ENTITY_PHONE), int(pim::ENTITY_EMAIL)}) {
                    const auto rows = c.entities.value(type);
                    if (!rows.isEmpty())
                        io.out << '\t' << pim::summaryLine(type, rows.first());
                }
                io.out << '\n';
            }
            c = pim::Contact(); // written: its rows are not kept
        }
    }
    if (json)
        io.out << "\n]\n";
    return Success;
}

int runCreateDb(const QStringList &args, Io io)
{
    const Options options(args, {}, {});
    const QString name = options.positional(0, QStringLiteral("database name"));
    const QString file = LocalDbFiles::fileNameFor(name);
    const QString path = LocalDbFiles::pathFor(file);
    if (QFileInfo::exists(path))
        throw std::runtime_error(
            QStringLiteral("A local database named \"%1\" already exists.").arg(file).toStdString());
    openOrCreateLocalDb(name);
    io.out << file << '\n';
    return Success;
}

int runDeleteDb(const QStringList &args, Io io)
{
    const Options options(args, {}, {});
    const QString path = existingDbPath(options.positional(0, QStringLiteral("database name")));
    // Refused with "in use" while another process (an import, the window) has the database open.
    if (!openLocalDb(path)->removeFile())
        throw std::runtime_error(
            trKey("An Error Occurred during deleting Local Database. Please try again.").toStdString());
    io.out << QFileInfo(path).fileName() << '\n';
    return Success;
}

} // namespace cli
