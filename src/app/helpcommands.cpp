#include "app/helpcommands.h"

#include "app/desktop.h"
#include "app/messagebox.h"
#include "app/webpages.h"
#include "core/datafolder.h"
#include "core/texts.h"

#include <QDir>

void HelpCommands::checkForUpdate(QWidget *parent)
{
    const QString page = WebPages::downloadPage();
    if (!Desktop::open(page))
        MessageBox::information(
            parent, trKey("No web browser could be opened. The latest version is on the download page:<br/>%1")
                        .arg(page.toHtmlEscaped()));
}

void HelpCommands::showHelp(QWidget *parent)
{
    const QString page = WebPages::writeHelpPage();
    if (page.isEmpty())
        MessageBox::warning(parent, trKey("The help page could not be written into the data folder %1.")
                                        .arg(QDir::toNativeSeparators(DataFolder::root()).toHtmlEscaped()));
    else if (!Desktop::open(page))
        MessageBox::information(parent, trKey("No web browser could be opened. The help page is the file:<br/>%1")
                                            .arg(QDir::toNativeSeparators(page).toHtmlEscaped()));
}

void HelpCommands::writeFeedback(QWidget *parent)
{
    if (!Desktop::open(WebPages::supportMail()))
        MessageBox::information(
            parent, trKey("No e-mail program could be opened. Please write to %1.").arg(WebPages::supportAddress()));
}

void HelpCommands::showAbout(QWidget *parent)
{
    MessageBox::show(parent, MessageBox::Icon::Information, WebPages::aboutText(), MessageBox::Ok, true);
}
