#include "app/contactlistcontroller.h"

#include "app/guardedstep.h"
#include "app/itemmodelcontacts.h"
#include "app/itemmodelmaintree.h"
#include "app/messagebox.h"
#include "app/mytreeview.h"
#include "contacts/contactlister.h"
#include "contacts/localdb.h"
#include "core/texts.h"
#include "widgets/contactdisplayer.h"

#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QTimer>
#include <QTreeView>

#include <algorithm>

ContactListController::ContactListController(const Views &views, int searchDelayMs, QWidget *window)
    : QObject(window), m_views(views), m_window(window), m_searchTimer(new QTimer(this))
{
    // The list follows the field as the user types, once typing pauses; clearing the field shows all again.
    m_searchTimer->setSingleShot(true);
    m_searchTimer->setInterval(searchDelayMs);
    connect(m_searchTimer, &QTimer::timeout, this, &ContactListController::search);
    connect(m_views.keyword, &QLineEdit::textEdited, m_searchTimer, qOverload<>(&QTimer::start));
    connect(m_views.keyword, &QLineEdit::textChanged, this, [this](const QString &text) {
        if (text.isEmpty() && !m_listedKeyword.isEmpty())
            m_searchTimer->start(); // the clear button, or select-all and delete
    });
}

// ---------------------------------------------------------------------------------------------------------------
// Selection

_DBItemNode *ContactListController::selectedDbNode() const
{
    const QModelIndexList rows = m_views.tree->selectionModel()->selectedIndexes();
    if (rows.isEmpty())
        return nullptr;
    return m_views.treeModel->dbNodeOf(rows.first());
}

const _GroupItemNode *ContactListController::selectedGroup() const
{
    const QModelIndexList rows = m_views.tree->selectionModel()->selectedIndexes();
    return rows.isEmpty() ? nullptr : m_views.treeModel->groupNodeOf(rows.first());
}

qint64 ContactListController::selectedGroupId() const
{
    const _GroupItemNode *group = selectedGroup();
    return group ? group->groupId : 0;
}

bool ContactListController::contactsSelected() const
{
    return selectedContactCount() > 0;
}

int ContactListController::selectedContactCount() const
{
    return int(m_views.contacts->selectionModel()->selectedRows().size());
}

QList<pim::Contact> ContactListController::selectedContacts() const
{
    QList<pim::Contact> contacts;
    QModelIndexList rows = m_views.contacts->selectionModel()->selectedRows();
    std::sort(rows.begin(), rows.end(), [](const QModelIndex &a, const QModelIndex &b) { return a.row() < b.row(); });
    for (const QModelIndex &index : std::as_const(rows))
        contacts.append(m_views.contactsModel->contactAt(index));
    return contacts;
}

QList<pim::Contact> ContactListController::nodeContacts() const
{
    _DBItemNode *node = selectedDbNode();
    QList<pim::Contact> contacts;
    if (node)
        guardedStep(m_window, [&] { contacts = node->db->listContacts(selectedGroupId(), QString()); });
    return contacts;
}

QList<pim::Contact> ContactListController::commandContacts() const
{
    return contactsSelected() ? selectedContacts() : nodeContacts();
}

void ContactListController::selectNode(_ItemNode *node)
{
    const QModelIndex index = m_views.treeModel->indexOfNode(node);
    m_views.tree->expand(index);
    m_views.tree->selectionModel()->clearSelection();
    m_views.tree->selectionModel()->select(index, QItemSelectionModel::ClearAndSelect);
    m_views.tree->setCurrentIndex(index);
}

void ContactListController::clearNodeSelection()
{
    m_views.tree->selectionModel()->clearSelection();
}

// ---------------------------------------------------------------------------------------------------------------
// Listing

bool ContactListController::isListing() const
{
    return m_lister && m_lister->isRunning();
}

void ContactListController::relist()
{
    showNodeContacts(m_views.keyword->text().trimmed());
}

void ContactListController::showNodeContacts(const QString &keyword)
{
    listNodeContacts(keyword, true);
}

void ContactListController::clearList()
{
    m_views.contactsModel->clear();
    m_views.details->clear();
    m_views.total->setText(trKey("Total:%1").arg(0));
}

void ContactListController::listNodeContacts(const QString &keyword, bool selectFirst)
{
    _DBItemNode *node = selectedDbNode();
    if (!node)
        return;
    if (!m_lister) {
        m_lister = new ContactLister(this);
        connect(m_lister, &ContactLister::counted, this, &ContactListController::onContactsCounted);
        connect(m_lister, &ContactLister::contactsListed, this, &ContactListController::onContactsListed);
        connect(m_lister, &ContactLister::finished, this, &ContactListController::onListingFinished);
    }
    clearList();
    Q_EMIT selectionChanged(); // emptying the list ended its selection without a selection signal
    m_listSelectsFirst = selectFirst;
    m_listedKeyword = keyword;
    // A small node is listed before this returns; a large one arrives in pieces while the window stays usable.
    m_lister->start(*node->db, selectedGroupId(), keyword);
}

void ContactListController::onContactsCounted(int total)
{
    m_views.total->setText(trKey("Total:%1").arg(total));
}

void ContactListController::onContactsListed(const QList<pim::Contact> &contacts)
{
    ItemModelContacts *model = m_views.contactsModel;
    const int first = model->rowCount();
    model->appendContacts(contacts);
    QItemSelectionModel *selection = m_views.contacts->selectionModel();
    // The listing emptied the details pane; a contact shown there since was put there by the command that
    // started the listing (an edit shows the contact it saved): its row is selected once it arrives, unless the
    // user has selected rows meanwhile.
    const qint64 shown = m_views.details->contact()._id;
    if (shown != 0 && !selection->hasSelection()) {
        for (int row = first; row < model->rowCount(); ++row) {
            if (model->contacts().at(row)._id != shown)
                continue;
            const QModelIndex index = model->indexOfRow(row);
            selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
            m_views.contacts->scrollTo(index);
            return;
        }
    }
    if (first != 0 || model->rowCount() == 0)
        return;
    const QModelIndex top = model->indexOfRow(0);
    if (m_listSelectsFirst && shown == 0)
        m_views.contacts->setCurrentIndex(top);
    else
        selection->setCurrentIndex(top, QItemSelectionModel::NoUpdate);
}

void ContactListController::onListingFinished(const QString &error)
{
    ItemModelContacts *model = m_views.contactsModel;
    if (error.isEmpty()) {
        m_views.total->setText(trKey("Total:%1").arg(model->rowCount()));
        const QHeaderView *header = m_views.contacts->header();
        model->sort(header->sortIndicatorSection(), header->sortIndicatorOrder());
        // An empty result of a search says so, rather than leaving an empty list to be puzzled over.
        if (!m_listedKeyword.isEmpty() && model->rowCount() == 0 && !m_views.banner->isHidden())
            m_views.banner->setText(trKey("IDS_SEARCH_KEYWORKD_%1").arg(m_listedKeyword) + QStringLiteral(" \u2014 ") +
                                    trKey("no contacts match."));
        return;
    }
    // Emptied before the box, whose event loop may already start the next listing.
    clearList();
    MessageBox::error(m_window, MessageBox::escaped(error));
}

void ContactListController::stopListing()
{
    if (m_lister)
        m_lister->cancel();
}

// ---------------------------------------------------------------------------------------------------------------
// Reactions to the views

void ContactListController::nodeSelected()
{
    Q_EMIT selectionChanged();
    _DBItemNode *node = selectedDbNode();
    m_views.keyword->clear();
    m_searchTimer->stop(); // the node's full list follows; no search of the emptied field after it
    m_views.banner->hide();
    if (!node) {
        stopListing();
        clearList();
        return;
    }
    if (!node->groupsLoaded)
        guardedStep(m_window, [&] { m_views.treeModel->reloadGroups(node); });
    m_views.tree->expand(m_views.treeModel->indexOfNode(node));
    listNodeContacts(QString(), false);
}

void ContactListController::contactSelectionChanged()
{
    const QModelIndexList rows = m_views.contacts->selectionModel()->selectedRows();
    if (rows.isEmpty() || !rows.first().isValid())
        m_views.details->clear();
    else
        m_views.details->setContact(m_views.contactsModel->contactAt(rows.first()));
    Q_EMIT selectionChanged();
}

void ContactListController::search()
{
    m_searchTimer->stop();
    if (!selectedDbNode())
        return;
    const QString keyword = m_views.keyword->text().trimmed();
    // The banner first: a small list is complete when the listing returns, and its end may add to the banner.
    if (keyword.isEmpty()) {
        m_views.banner->hide();
    } else {
        m_views.banner->setText(trKey("IDS_SEARCH_KEYWORKD_%1").arg(keyword));
        m_views.banner->show();
    }
    showNodeContacts(keyword);
}

void ContactListController::showLoadedDevice(_DBItemNode *node)
{
    guardedStep(m_window, [&] { m_views.treeModel->reloadGroups(node); });
    selectNode(node);
    Q_EMIT selectionChanged();
}

void ContactListController::refreshNode(_DBItemNode *node)
{
    guardedStep(m_window, [&] { m_views.treeModel->reloadGroups(node); });
    if (selectedDbNode() == node && selectedGroupId() == 0)
        nodeSelected(); // already selected: show its fresh contents
    else
        selectNode(node);
}

void ContactListController::showSavedContact(const pim::Contact &saved)
{
    relist();
    const QList<pim::Contact> &shown = m_views.contactsModel->contacts();
    for (int row = 0; row < shown.size(); ++row) {
        if (shown.at(row)._id != saved._id)
            continue;
        const QModelIndex index = m_views.contactsModel->indexOfRow(row);
        m_views.contacts->selectionModel()->select(index,
                                                   QItemSelectionModel::ClearAndSelect | QItemSelectionModel::Rows);
        m_views.contacts->setCurrentIndex(index);
        m_views.contacts->scrollTo(index);
        break;
    }
    m_views.details->setContact(saved); // also when the list's group or keyword leaves it out
}
