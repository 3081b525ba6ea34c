#include "CorvaneHost/Linux/Widgets/WidgetPanels.h"

#include "CorvaneHost/ApplicationIcons.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Linux/Desktop/DesktopEntries.h"
#include "CorvaneHost/PropertyList.h"

#include <QApplication>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QDirIterator>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSet>
#include <QVBoxLayout>
#include <algorithm>
#include <vector>

namespace host {

namespace {

QString bundleName(const QString& bundlePath) {
    const auto info = readPropertyListFile(bundlePath + QStringLiteral("/Contents/Info.plist"));
    if (info) {
        for (const char* key : {"CFBundleDisplayName", "CFBundleName"}) {
            const QString name = info->value(QString::fromLatin1(key)).toString();
            if (!name.isEmpty())
                return name;
        }
    }
    return QFileInfo(bundlePath).completeBaseName();
}

bool isBundle(const QString& path) {
    return path.endsWith(QStringLiteral(".app")) && QFileInfo(path).isDir();
}

QString choiceIcon(const QString& path) {
    return applicationIconFile(path).value_or(QString());
}

QWidget* dialogParent() {
    return QApplication::activeWindow();
}

// The panel's message as a wrapped line above its contents: in place of a field label it would widen the
// label column and squeeze the fields.
void addMessageOnTop(QFileDialog& dialog, const QString& message) {
    auto* grid = qobject_cast<QGridLayout*>(dialog.layout());
    auto* label = new QLabel(message, &dialog);
    label->setObjectName(QStringLiteral("PanelMessage"));
    label->setWordWrap(true);
    if (!grid) {
        dialog.setLabelText(QFileDialog::LookIn, message);
        delete label;
        return;
    }
    struct Placed {
        QLayoutItem* item;
        int row, column, rowSpan, columnSpan;
    };
    std::vector<Placed> placed;
    while (grid->count() > 0) {
        Placed entry{};
        grid->getItemPosition(0, &entry.row, &entry.column, &entry.rowSpan, &entry.columnSpan);
        entry.item = grid->takeAt(0);
        placed.push_back(entry);
    }
    int columns = 1;
    for (const Placed& entry : placed) {
        grid->addItem(entry.item, entry.row + 1, entry.column, entry.rowSpan, entry.columnSpan);
        columns = std::max(columns, entry.column + entry.columnSpan);
    }
    grid->addWidget(label, 0, 0, 1, columns);
}

} // namespace

std::vector<ApplicationChoice> applicationChoices() {
    std::vector<ApplicationChoice> bundles;
    QSet<QString> seenBundles;
    for (const QString& folder : applicationFolders()) {
        const QDir dir(folder);
        for (const QString& name :
             dir.entryList({QStringLiteral("*.app")}, QDir::Dirs | QDir::NoDotAndDotDot)) {
            const QString path = QDir::cleanPath(dir.filePath(name));
            if (seenBundles.contains(path))
                continue;
            seenBundles.insert(path);
            bundles.push_back({bundleName(path), path, choiceIcon(path)});
        }
    }
    std::vector<ApplicationChoice> entries;
    QSet<QString> seenIDs;
    for (const QString& folder : desktopEntryDirectories()) {
        QDirIterator files(folder, {QStringLiteral("*.desktop")}, QDir::Files, QDirIterator::Subdirectories);
        while (files.hasNext()) {
            const QString path = files.next();
            QString id = QDir(folder).relativeFilePath(path);
            id.chop(int(strlen(".desktop")));
            id.replace(QLatin1Char('/'), QLatin1Char('-'));
            // An ID found in a folder of higher precedence hides the same ID further down.
            if (seenIDs.contains(id))
                continue;
            seenIDs.insert(id);
            const auto entry = readDesktopEntry(path, id);
            if (!entry)
                continue;
            if (!entry->bundlePath.isEmpty()) {
                const QString bundle = QDir::cleanPath(entry->bundlePath);
                if (!seenBundles.contains(bundle) && isBundle(bundle)) {
                    seenBundles.insert(bundle);
                    bundles.push_back({entry->name.isEmpty() ? bundleName(bundle) : entry->name, bundle,
                                       choiceIcon(bundle)});
                }
                continue;
            }
            const auto group = readDesktopFileGroup(path, QStringLiteral("Desktop Entry"));
            if (group.value(QStringLiteral("NoDisplay")) == QStringLiteral("true"))
                continue;
            entries.push_back({entry->name.isEmpty() ? id : entry->name, path, choiceIcon(path)});
        }
    }
    std::vector<ApplicationChoice> all = std::move(bundles);
    all.insert(all.end(), entries.begin(), entries.end());
    std::stable_sort(all.begin(), all.end(), [](const ApplicationChoice& a, const ApplicationChoice& b) {
        return QString::localeAwareCompare(a.name, b.name) < 0;
    });
    return all;
}

std::optional<QString> WidgetPanels::chooseDirectory(const OpenPanelOptions& options) {
    QFileDialog dialog(dialogParent(), options.title);
    dialog.setObjectName(QStringLiteral("ChooseFolderPanel"));
    dialog.setFileMode(QFileDialog::Directory);
    dialog.setOption(QFileDialog::ShowDirsOnly, true);
    dialog.setOption(QFileDialog::ReadOnly, !options.canCreateDirectories);
    dialog.setOption(QFileDialog::DontUseNativeDialog, true);
    if (!options.message.isEmpty())
        addMessageOnTop(dialog, options.message);
    if (!options.prompt.isEmpty())
        dialog.setLabelText(QFileDialog::Accept, options.prompt);
    if (options.startDirectory)
        dialog.setDirectory(*options.startDirectory);
    dialog.setWindowModality(Qt::ApplicationModal);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::cleanPath(dialog.selectedFiles().constFirst());
}

std::optional<QString> WidgetPanels::chooseApplication(const OpenPanelOptions& options) {
    QDialog dialog(dialogParent());
    dialog.setObjectName(QStringLiteral("ChooseApplicationPanel"));
    dialog.setWindowTitle(options.title.isEmpty() ? QStringLiteral("Choose an Application") : options.title);
    dialog.setWindowModality(Qt::ApplicationModal);
    dialog.resize(460, 520);
    auto* column = new QVBoxLayout(&dialog);
    if (!options.message.isEmpty()) {
        auto* message = new QLabel(options.message, &dialog);
        message->setWordWrap(true);
        column->addWidget(message);
    }
    auto* list = new QListWidget(&dialog);
    list->setObjectName(QStringLiteral("Applications"));
    list->setAccessibleName(QStringLiteral("Applications"));
    list->setIconSize(QSize(24, 24));
    for (const ApplicationChoice& choice : applicationChoices()) {
        auto* item = new QListWidgetItem(choice.name, list);
        item->setData(Qt::UserRole, choice.path);
        item->setToolTip(choice.path);
        if (!choice.iconFile.isEmpty())
            item->setIcon(QIcon(choice.iconFile));
    }
    column->addWidget(list, 1);

    auto* pathRow = new QHBoxLayout;
    auto* pathLabel = new QLabel(QStringLiteral("Path:"), &dialog);
    auto* path = new QLineEdit(&dialog);
    path->setObjectName(QStringLiteral("ApplicationPath"));
    path->setPlaceholderText(QStringLiteral("An application folder (….app) or a desktop entry"));
    pathLabel->setBuddy(path);
    auto* browse = new QPushButton(QStringLiteral("Browse…"), &dialog);
    browse->setObjectName(QStringLiteral("BrowseApplication"));
    pathRow->addWidget(pathLabel);
    pathRow->addWidget(path, 1);
    pathRow->addWidget(browse);
    column->addLayout(pathRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
    QPushButton* choose = buttons->button(QDialogButtonBox::Ok);
    choose->setText(options.prompt.isEmpty() ? QStringLiteral("Choose") : options.prompt);
    column->addWidget(buttons);

    const auto chosenPath = [list, path]() -> QString {
        const QString typed = path->text().trimmed();
        if (!typed.isEmpty())
            return QDir::cleanPath(typed);
        if (QListWidgetItem* item = list->currentItem(); item && item->isSelected())
            return item->data(Qt::UserRole).toString();
        return {};
    };
    const auto isApplication = [](const QString& candidate) {
        return isBundle(candidate) ||
               (candidate.endsWith(QStringLiteral(".desktop")) && QFileInfo(candidate).isFile());
    };
    const auto updateChoose = [&] { choose->setEnabled(isApplication(chosenPath())); };
    QObject::connect(list, &QListWidget::itemSelectionChanged, &dialog, [&] {
        if (list->currentItem() && list->currentItem()->isSelected())
            path->clear();
        updateChoose();
    });
    QObject::connect(path, &QLineEdit::textChanged, &dialog, updateChoose);
    QObject::connect(list, &QListWidget::itemActivated, &dialog, [&] {
        if (choose->isEnabled())
            dialog.accept();
    });
    QObject::connect(browse, &QPushButton::clicked, &dialog, [&] {
        QFileDialog folders(&dialog, QStringLiteral("Choose an Application Folder"));
        folders.setFileMode(QFileDialog::Directory);
        folders.setOption(QFileDialog::DontUseNativeDialog, true);
        folders.setDirectory(options.startDirectory && QFileInfo(*options.startDirectory).isDir()
                                 ? *options.startDirectory
                                 : QDir::homePath());
        if (folders.exec() == QDialog::Accepted && !folders.selectedFiles().isEmpty()) {
            list->clearSelection();
            path->setText(folders.selectedFiles().constFirst());
        }
    });
    QObject::connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    updateChoose();
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    const QString answer = chosenPath();
    if (!isApplication(answer))
        return std::nullopt;
    return answer;
}

} // namespace host
