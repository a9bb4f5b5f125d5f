#pragma once

#include "itunes/backupmanifest.h"

#include <QDialog>
#include <QString>

class ItemModelLoadBk;
class QLabel;
class QPushButton;
class QTreeView;

// Lets the user pick an iTunes backup: the backups found under the backup roots, plus any folder added by hand
// through the link under the list. Load (or a double click) accepts the current row.
class LoadItunesBackupDlg : public QDialog
{
    Q_OBJECT
public:
    explicit LoadItunesBackupDlg(QWidget *parent = nullptr);
    ~LoadItunesBackupDlg() override;

    // The chosen backup once accepted; null before that.
    PBackupManifest selectedManifest() const { return m_selected; }
    ItemModelLoadBk *model() const { return m_model; }
    QTreeView *list() const { return m_listBackups; }

    // Runs the dialog modally, or headless when answers are queued (below).
    int exec() override;

    // Headless runs (tests, scripted window flows). While answers are queued, exec() shows no dialog: each
    // answer picks a row and presses Load, as a user retries after a warning; a row outside the list presses
    // Load with nothing selected; a negative row, or running out of answers, cancels.
    static void queueAnswer(int row);
    // An answer that clicks the link, adds the folder (a null text: the chooser was cancelled) and presses Load.
    static void queueAddFolderAnswer(const QString &folder);
    // The next folder chooser returns this folder without being shown (a null text answers as Cancel).
    static void queueFolderChoice(const QString &folder);

public Q_SLOTS:
    void btnAddOtherClicked(const QString &link);
    void btnLoadClicked();

protected:
    void resizeEvent(QResizeEvent *event) override;

private:
    // Reads the description of a folder and lists it; an unreadable folder is reported and left out.
    bool addFolder(const PBackupManifest &manifest);
    QString chooseFolder();

    QLabel *m_lbTitle;
    QTreeView *m_listBackups;
    QLabel *m_lbAddOther;
    QPushButton *m_btnLoad;
    QPushButton *m_btnCancel;
    ItemModelLoadBk *m_model;
    PBackupManifest m_selected;
};
