#include "Corvane/Models/AppModel.h"

#include "Corvane/Models/DestinationPicker.h"
#include "Corvane/Models/SigningIdentity.h"
#include "CorvaneCore/Foundation/Paths.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/Folders.h"
#include "CorvaneHost/Panels.h"
#include "CorvaneHost/Services.h"
#include "CorvaneHost/Workspace.h"

#include <QFileInfo>
#include <QSet>

// What a save's build carries, all taken on the main thread before it starts.
struct AppModel::SaveContext {
    BuildRequest request;
    QString signIdentity;
    std::optional<Selection> savedSelection; // what was selected when the save began
    EditorState savedEditor;                 // the editor as it was saved
    std::optional<QUuid> draftID;
    bool renamed = false;
    std::optional<QString> oldName;
    bool wasRunning = false;
    QUrl destination;
    std::function<void()> then;
};

void AppModel::setDestination(const QUrl& folder) {
    EditorState copy = editor_;
    copy.destination = folder;
    setEditor(copy);
    mirrorEditorIntoDraft();
    EditorState::setRememberedDestination(folder);
}

void AppModel::save(std::function<void()> then) {
    // One build at a time: a second one would race the first for the registry and the selection.
    if (isBusy_)
        return;
    if (!canCreateProxyApps_)
        return;
    if (editor_.nameProblem())
        return;
    if (editor_.profileDirectory.isEmpty())
        return;

    if (editor_.isDraft()) {
        const auto chosen = DestinationPicker::ask(EditorState::rememberedDestination());
        if (!chosen)
            return;
        setDestination(*chosen);
    } else if (!editor_.origin->existsOnDisk()) {
        RegisteredApp entry = *editor_.origin;
        const auto found = Registry::resolve(entry);
        if (!found) {
            setErrorMessage(notWhereItUsedToBe(entry.name));
            return;
        }
        entry.path = *found;
        entry.refreshBookmark();
        EditorState copy = editor_;
        copy.origin = entry;
        setEditor(copy);
        copy.destination = QUrl::fromLocalFile(QFileInfo(*found).path());
        setEditor(copy);
        registry_.upsert(entry);
        saveRegistry();
        republishApps();
    }

    if (!editor_.destination)
        return;
    if (editor_.occupiedByAnotherBundle()) {
        setErrorMessage(QStringLiteral("Something else is already called “") + editor_.trimmedName() +
                        QStringLiteral("” in that folder."));
        return;
    }

    QString bundleID;
    if (editor_.origin) {
        bundleID = editor_.origin->bundleID;
    } else {
        QSet<QString> taken;
        for (const RegisteredApp& app : apps_)
            taken.insert(app.bundleID);
        bundleID = Corvane::newBundleID(taken);
    }

    SaveContext context;
    if (editor_.isRenamed() && editor_.origin)
        context.request.replacing = QUrl::fromLocalFile(editor_.origin->path);
    context.renamed = editor_.isRenamed();
    if (editor_.origin)
        context.oldName = editor_.origin->name;
    context.savedSelection = selection_;
    context.savedEditor = editor_;
    if (selection_ && selection_->kind == Selection::Kind::draft)
        context.draftID = selection_->draftID;

    setIsBusy(true);
    setErrorMessage(std::nullopt);
    setStatusMessage(std::nullopt);

    context.request.name = editor_.trimmedName();
    context.request.bundleID = bundleID;
    context.request.config = editor_.config();
    context.request.destinationDirectory = *editor_.destination;
    context.request.registerAsBrowser = editor_.registerAsBrowser;
    context.signIdentity = SigningIdentity::preferred();
    context.wasRunning = context.renamed && !host::workspace().runningApplications(bundleID).empty();
    context.destination = *editor_.destination;
    context.then = std::move(then);

    BuildFunction build = buildApp;
    runInBackground(
        [build, request = context.request, identity = context.signIdentity] {
            BuildOutcome outcome;
            try {
                outcome.built.push_back(build(request, identity));
            } catch (const std::exception& error) {
                outcome.lastError = host::describe(error);
            }
            return outcome;
        },
        [this, context](const BuildOutcome& outcome) { finishSave(context, outcome); });
}

void AppModel::finishSave(const SaveContext& context, const BuildOutcome& outcome) {
    if (outcome.built.empty()) {
        setIsBusy(false);
        setErrorMessage(outcome.lastError.value_or(QStringLiteral("the build failed")));
        return;
    }
    const RegisteredApp& entry = outcome.built.front();
    registry_.upsert(entry);
    saveRegistry();
    registry_.rescan();
    republishApps();

    // Whether the user is still on what was being saved; if they moved on, their new selection and its edits
    // stay as they are.
    const bool stillSelected = selection_ == context.savedSelection;
    if (context.draftID) {
        std::vector<DraftApp> kept;
        for (const DraftApp& draft : drafts_)
            if (draft.id != *context.draftID)
                kept.push_back(draft);
        setDrafts(std::move(kept));
    }
    // The editor stayed open during the build: what the user changed since the save began stays, unsaved.
    if (stillSelected)
        reloadKeepingEdits(entry.bundleID, context.savedEditor);
    setIsBusy(false);

    if (context.renamed && context.oldName) {
        QString message = QStringLiteral("Renamed “") + *context.oldName + QStringLiteral("” to “") +
                          entry.name + QStringLiteral("”.");
        if (context.wasRunning)
            message = QStringLiteral("Renamed “") + *context.oldName + QStringLiteral("” to “") + entry.name +
                      QStringLiteral("”. Quit and reopen it to ") + QStringLiteral("pick up the new name.");
        setStatusMessage(message);
    } else {
        setStatusMessage(QStringLiteral("Saved ") + entry.name + QStringLiteral(" to ") +
                         EditorState::friendlyPath(context.destination) + QStringLiteral("."));
    }
    // The navigation that waited for this save is the user's only while they are still on the saved app; it
    // asks again about edits made during the build.
    if (context.then && selection_ == Selection::saved(entry.bundleID))
        context.then();
}
