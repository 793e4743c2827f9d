#include "XafsMapControls.h"

#include <algorithm>

#include <QDebug>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSpinBox>

XafsMapControls::XafsMapControls(QWidget *parent)
    : QWidget(parent)
{
    list = new QListWidget(this);
    list->setObjectName(QStringLiteral("XafsReferences"));
    // Room for three references; more scroll.
    list->setMaximumHeight(3 * list->fontMetrics().height() + 12);
    add = new QPushButton(tr("Add reference..."), this);
    add->setObjectName(QStringLiteral("XafsAddReference"));
    remove = new QPushButton(tr("Remove"), this);
    remove->setObjectName(QStringLiteral("XafsRemoveReference"));
    fit = new QPushButton(tr("Fit"), this);
    fit->setObjectName(QStringLiteral("XafsFit"));
    components = new QPushButton(tr("Components"), this);
    components->setObjectName(QStringLiteral("XafsComponents"));
    clusters = new QSpinBox(this);
    clusters->setObjectName(QStringLiteral("XafsClusterCount"));
    clusters->setRange(2, 16);
    clusters->setValue(3);
    clusterButton = new QPushButton(tr("Clusters"), this);
    clusterButton->setObjectName(QStringLiteral("XafsClusters"));
    means = new QPushButton(tr("Plot cluster means"), this);
    means->setObjectName(QStringLiteral("XafsClusterMeans"));
    status = new QLabel(this);
    status->setObjectName(QStringLiteral("XafsMapStatus"));
    status->setWordWrap(true);

    auto *layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(new QLabel(tr("References"), this), 0, 0);
    layout->addWidget(list, 0, 1, 2, 1);
    layout->addWidget(add, 0, 2);
    layout->addWidget(remove, 1, 2);
    layout->addWidget(fit, 0, 3);
    layout->addWidget(components, 1, 3);
    auto *k = new QHBoxLayout;
    k->addWidget(new QLabel(tr("K"), this));
    k->addWidget(clusters);
    k->addWidget(clusterButton);
    layout->addLayout(k, 0, 4);
    layout->addWidget(means, 1, 4);
    layout->addWidget(status, 0, 5, 2, 1);
    layout->setColumnStretch(1, 1);
    layout->setColumnStretch(5, 1);

    connect(add, &QPushButton::clicked, this, &XafsMapControls::askReference);
    connect(remove, &QPushButton::clicked, this, [this] {
        if (list->currentRow() >= 0)
            emit referenceRemoved(list->currentRow());
    });
    connect(fit, &QPushButton::clicked, this, &XafsMapControls::fitRequested);
    connect(components, &QPushButton::clicked, this, &XafsMapControls::componentsRequested);
    connect(clusterButton, &QPushButton::clicked, this,
            [this] { emit clustersRequested(clusters->value()); });
    connect(means, &QPushButton::clicked, this, &XafsMapControls::clusterMeansRequested);
}

int XafsMapControls::clusterCount() const
{
    return clusters->value();
}

void XafsMapControls::setBusy(bool busy)
{
    for (QPushButton *b : {fit, components, clusterButton})
        b->setEnabled(!busy);
}

void XafsMapControls::setStatus(const QString &text)
{
    status->setText(text);
}

void XafsMapControls::setReferences(const std::vector<XafsReference> &references)
{
    shown = references;
    list->clear();
    for (const XafsReference &r : references)
        list->addItem(QStringLiteral("%1  (%2)").arg(r.name, r.file));
    fit->setToolTip(references.empty() ? tr("Add reference spectra first") : QString());
}

bool XafsMapControls::readReference(const QString &path, const std::vector<XafsReference> &taken,
                                    XafsReference *reference)
{
    if (taken.size() >= static_cast<size_t>(XafsReference::maxReferences)) {
        qDebug() << "XAFS: more than 8 references" << path;
        return false;
    }
    // The name is the file's base name made a plain word, numbered when it is taken.
    QString base = QFileInfo(path).completeBaseName();
    base.replace(QRegularExpression(QStringLiteral("[^A-Za-z0-9_]")), QStringLiteral("_"));
    if (base.isEmpty())
        base = QStringLiteral("ref");
    QString name = base;
    auto used = [&taken](const QString &n) {
        return std::any_of(taken.begin(), taken.end(),
                           [&n](const XafsReference &r) { return r.name == n; });
    };
    for (int i = 2; used(name); ++i)
        name = base + QLatin1Char('_') + QString::number(i);
    XafsReference r;
    r.name = name;
    if (!r.read(path))
        return false;
    *reference = r;
    return true;
}

void XafsMapControls::askReference()
{
    const QString path =
        QFileDialog::getOpenFileName(this, tr("Add reference spectrum"), QString(),
                                     tr("Spectra (*.csv *.xdi *.dat *.txt);;All files (*)"));
    XafsReference r;
    if (!path.isEmpty() && readReference(path, shown, &r))
        emit referenceAdded(r);
}
