#pragma once

#include "contacts/pim.h"

#include <QList>
#include <QObject>
#include <QSize>

class QPrinter;
class QWidget;

// The window's "Print Contacts": a print preview of the contacts as cards (A4, portrait, 20 points of
// margin), from which the user prints. When no printer is usable the preview renders to PDF.
class ContactsPrintPreview : public QObject
{
    Q_OBJECT
public:
    explicit ContactsPrintPreview(QWidget *parent = nullptr);

    // Shows the preview of the contacts, modal, until the user closes it.
    void print(const QList<pim::Contact> &contacts);

    // Headless runs (tests, scripted window flows): the next preview closes as soon as it has rendered and
    // records what it showed instead of waiting for the user.
    struct Shown
    {
        QString title;
        QSize size;
        int pages = 0;
        int contactsPainted = 0;
    };
    static void queueClose();
    static QList<Shown> takeShown();

public Q_SLOTS:
    void onPaintRequested(QPrinter *printer);

private:
    QWidget *m_parent;
    QList<pim::Contact> m_contacts;
    int m_painted = 0;
};
