#include "app/dialogbuttons.h"

#include "core/texts.h"

#include <QDialog>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>

DialogButtons stackWithButtons(QDialog *dialog, std::initializer_list<QWidget *> widgets, const QString &okText)
{
    auto *ok = new QPushButton(okText, dialog);
    ok->setObjectName(QStringLiteral("btnOK"));
    ok->setDefault(true);
    auto *cancel = new QPushButton(trKey("Cancel"), dialog);
    cancel->setObjectName(QStringLiteral("btnCancel"));

    auto *buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);
    auto *layout = new QVBoxLayout(dialog);
    layout->setContentsMargins(16, 12, 16, 12);
    for (QWidget *widget : widgets)
        layout->addWidget(widget);
    layout->addLayout(buttons);
    return {ok, cancel};
}
