#pragma once

#include <QDialog>
#include <QIcon>
#include <QList>
#include <QString>
#include <QVariant>

class QComboBox;
class QLabel;
class _DBItemNode;

// Asks for one data source out of a list: the target device of a transfer, or (with the link to pick a backup
// folder by hand) an iTunes backup. Each entry carries its data; the dialog returns the chosen entry's data.
class DataSourceSelForm : public QDialog
{
    Q_OBJECT
public:
    // One device offered for selection.
    struct Candidate
    {
        QIcon icon;
        QString name;
        _DBItemNode *node = nullptr;
    };

    explicit DataSourceSelForm(QWidget *parent = nullptr);

    void setPrompt(const QString &prompt);
    void addChoice(const QIcon &icon, const QString &name, const QVariant &data);
    // Shows or hides the link "(To manually select iTunes Backup, click HERE.)"; shown by default.
    void setOpenOtherVisible(bool visible);
    // Device selection: the prompt becomes the label, the link is hidden, one entry per device. The dialog is
    // meant to be shown even for a single candidate.
    void setDeviceCandidates(const QString &prompt, const QList<Candidate> &candidates);

    // The data of the current entry; invalid when there is none.
    QVariant selectedData() const;
    // The device of the current entry; null when there is none or the entries are not devices.
    _DBItemNode *selectedNode() const;

    // Runs the dialog modally, or headless when answers are queued (below).
    int exec() override;

    // Headless runs (tests, scripted window flows): while answers are queued, exec() shows no dialog. Each answer
    // is the row to pick before confirming, as a user retries after a warning; a negative row, or running out of
    // answers, cancels.
    static void queueAnswer(int row);

Q_SIGNALS:
    // The link was activated: the caller lets the user pick a backup folder.
    void openOtherRequested();

public Q_SLOTS:
    void onBtnOkPressed();

private:
    QLabel *m_lbSelDevice;
    QComboBox *m_cbDevice;
    QLabel *m_btnOpenOther;
};
