#include "info/frmabout.h"

#include "controls/bringtofront.h"
#include "controls/defaultbutton.h"
#include "controls/screenfit.h"
#include "info/logo.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

namespace info {

namespace {
frmAbout* theAbout = nullptr;


QLabel* centred(const QString& name, const QString& text)
{
    auto* label = new QLabel(text);
    label->setObjectName(name);
    label->setAlignment(Qt::AlignCenter);
    label->setWordWrap(true);
    return label;
}

// The program is MIT-licensed, so the notice forbids what the licence does
// not allow: copies without the copyright and permission notice.
const QString kLegalNotice = QStringLiteral(
    "Warning: this program is protected by copyright law. Copyright (c) 2026 Orvane Software. "
    "It may be reproduced and distributed only under the terms of the MIT License, which require "
    "the copyright notice and the permission notice in every copy. Reproduction or distribution "
    "of the program, or of any part of it, without them is not authorised.");
} // namespace

frmAbout::frmAbout()
{
    setObjectName(QStringLiteral("frmAbout"));
    setAttribute(Qt::WA_DeleteOnClose);
    setWindowTitle(QStringLiteral("About Orvane Software Drive Wiper"));

    auto* outer = new QVBoxLayout(this);
    auto* top = new QHBoxLayout;
    Picture1 = makeLogo(QStringLiteral("Picture1"));
    Picture2 = makeLogo(QStringLiteral("Picture2"));
    auto* names = new QVBoxLayout;
    Label1 = centred(QStringLiteral("Label1"), QStringLiteral("Orvane Software Zarvex Drive Wiper and Quellix"));
    QFont nameFont = Label1->font();
    nameFont.setBold(true);
    Label1->setFont(nameFont);
    Label2 = centred(QStringLiteral("Label2"), QStringLiteral("Version " ZARVEX_VERSION));
    names->addWidget(Label1);
    names->addWidget(Label2);
    top->addWidget(Picture1, 0, Qt::AlignTop);
    top->addLayout(names, 1);
    top->addWidget(Picture2, 0, Qt::AlignTop);
    outer->addLayout(top);

    Label5 = centred(QStringLiteral("Label5"), kLegalNotice);
    outer->addWidget(Label5, 1);

    Command1 = new QPushButton(QStringLiteral("&Close"));
    Command1->setObjectName(QStringLiteral("Command1"));
    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(Command1);
    buttons->addStretch(1);
    outer->addLayout(buttons);
    connect(Command1, &QPushButton::clicked, this, &frmAbout::Command1_Click);
    controls::DefaultButton::install(this, Command1);
    controls::resizeWithinScreen(this, QSize(580, 240));
}

frmAbout::~frmAbout()
{
    if (theAbout == this)
        theAbout = nullptr;
}

void frmAbout::Command1_Click()
{
    close();
}

void frmAbout::closeEvent(QCloseEvent* event)
{
    if (theAbout == this)
        theAbout = nullptr;
    event->accept();
}

frmAbout* showAboutWindow()
{
    if (!theAbout)
        theAbout = new frmAbout;
    controls::bringToFront(theAbout);
    return theAbout;
}

frmAbout* aboutWindow()
{
    return theAbout;
}

} // namespace info
