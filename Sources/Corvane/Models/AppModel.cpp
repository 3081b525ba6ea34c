#include "Corvane/Models/AppModel.h"

#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneHost/Error.h"
#include "CorvaneHost/Services.h"
#include "CorvaneIcon/IconRenderer.h"

#include <QHash>
#include <QPointer>
#include <algorithm>

size_t qHash(const AppModel::Selection& selection, size_t seed) noexcept {
    return qHashMulti(seed, static_cast<int>(selection.kind), selection.bundleID, selection.draftID);
}

AppModel::AppModel(std::shared_ptr<HelperConnection> link, QObject* parent)
    : QObject(parent)
    , registry_(Registry::load())
    , probe_(std::make_shared<HelperProbe>(std::move(link))) {}

AppModel::~AppModel() {
    // The probe outlives nothing of the model: its callbacks hold the model only through guards.
    probe_->onChange = nullptr;
    probe_->onHistoryChanged = nullptr;
}

// MARK: Published properties: every assignment announces itself.

#define CORVANE_ASSIGN(member, value, signal)                                                                \
    do {                                                                                                     \
        member = std::move(value);                                                                           \
        emit signal();                                                                                       \
    } while (false)

void AppModel::setSelection(std::optional<Selection> value) {
    CORVANE_ASSIGN(selection_, value, selectionChanged);
}
void AppModel::setEditor(EditorState value) {
    CORVANE_ASSIGN(editor_, value, editorChanged);
    mirrorEditorIntoDraft();
}
void AppModel::setStatusMessage(std::optional<QString> value) {
    CORVANE_ASSIGN(statusMessage_, value, statusMessageChanged);
}
void AppModel::setShowingMigration(bool value) {
    CORVANE_ASSIGN(showingMigration_, value, showingMigrationChanged);
}
void AppModel::setProfiles(std::vector<ChromeProfile> value) {
    CORVANE_ASSIGN(profiles_, value, profilesChanged);
}
void AppModel::setApps(std::vector<RegisteredApp> value) {
    CORVANE_ASSIGN(apps_, value, appsChanged);
}
void AppModel::setDrafts(std::vector<DraftApp> value) {
    CORVANE_ASSIGN(drafts_, value, draftsChanged);
}
void AppModel::setTabGroups(TabGroupMap value) {
    CORVANE_ASSIGN(tabGroups_, value, tabGroupsChanged);
}
void AppModel::setIsLoadingTabGroups(bool value) {
    CORVANE_ASSIGN(isLoadingTabGroups_, value, isLoadingTabGroupsChanged);
}
void AppModel::setDeepTabGroups(TabGroupMap value) {
    CORVANE_ASSIGN(deepTabGroups_, value, deepTabGroupsChanged);
}
void AppModel::setIsDeepScanning(bool value) {
    CORVANE_ASSIGN(isDeepScanning_, value, isDeepScanningChanged);
}
void AppModel::setHelperTrusted(bool value) {
    CORVANE_ASSIGN(helperTrusted_, value, helperTrustedChanged);
}
void AppModel::setHelperRunning(bool value) {
    CORVANE_ASSIGN(helperRunning_, value, helperRunningChanged);
}
void AppModel::setCanCreateProxyApps(bool value) {
    CORVANE_ASSIGN(canCreateProxyApps_, value, canCreateProxyAppsChanged);
}
void AppModel::setHelperDisabled(bool value) {
    CORVANE_ASSIGN(helperDisabled_, value, helperDisabledChanged);
}
void AppModel::setErrorMessage(std::optional<QString> value) {
    CORVANE_ASSIGN(errorMessage_, value, errorMessageChanged);
}
void AppModel::setIsBusy(bool value) {
    CORVANE_ASSIGN(isBusy_, value, isBusyChanged);
}
void AppModel::setSymbolCatalog(std::optional<SymbolCatalog::Catalog> value) {
    CORVANE_ASSIGN(symbolCatalog_, value, symbolCatalogChanged);
}
void AppModel::setRenameOutcome(RenameMigration::Outcome value) {
    CORVANE_ASSIGN(renameOutcome_, value, renameOutcomeChanged);
}
void AppModel::setLegacyApps(std::vector<LegacyApp> value) {
    CORVANE_ASSIGN(legacyApps_, value, legacyAppsChanged);
}
void AppModel::setMigrationChoices(QMap<QString, MigrationChoice> value) {
    CORVANE_ASSIGN(migrationChoices_, value, migrationChoicesChanged);
}
void AppModel::setUnsavedPrompt(std::optional<UnsavedPrompt> value) {
    CORVANE_ASSIGN(unsavedPrompt_, value, unsavedPromptChanged);
}

#undef CORVANE_ASSIGN

void AppModel::republishApps() {
    setApps(registry_.apps);
}

void AppModel::saveRegistry() {
    try {
        registry_.save();
    } catch (const host::Error&) {
    }
}

void AppModel::runInBackground(std::function<BuildOutcome()> work,
                               std::function<void(const BuildOutcome&)> done) {
    // Chrome's icon is found through the workspace, which only the main thread may ask; the build's renders
    // draw the one loaded here.
    IconRenderer::chromeBaseImage();
    host::runInBackground(std::move(work), [guard = QPointer<AppModel>(this),
                                            done = std::move(done)](const BuildOutcome& outcome) {
        if (guard)
            done(outcome);
    });
}

// MARK: Selection, drafts and the unsaved-changes question.

void AppModel::mirrorEditorIntoDraft() {
    if (isMirroring_ || !selection_ || selection_->kind != Selection::Kind::draft)
        return;
    for (DraftApp& draft : drafts_) {
        if (draft.id == selection_->draftID) {
            draft.state = editor_;
            emit draftsChanged();
            return;
        }
    }
}

bool AppModel::hasUnsavedEdits() const {
    return selection_ && selection_->kind == Selection::Kind::saved && editor_.isDirty();
}

void AppModel::select(const std::optional<Selection>& selection) {
    if (selection == selection_)
        return;
    navigate(PendingNavigation::selection(selection));
}

void AppModel::navigate(const PendingNavigation& pending) {
    if (!hasUnsavedEdits()) {
        perform(pending);
        return;
    }
    pendingNavigation_ = pending;
    const QString name = editor_.trimmedName();
    setUnsavedPrompt(UnsavedPrompt{QUuid::createUuid(), name.isEmpty() ? QStringLiteral("this app") : name});
}

void AppModel::resolveUnsaved(UnsavedResolution resolution) {
    if (!pendingNavigation_)
        return;
    const PendingNavigation pending = *pendingNavigation_;
    setUnsavedPrompt(std::nullopt);
    pendingNavigation_.reset();
    switch (resolution) {
    case UnsavedResolution::save: {
        QPointer<AppModel> guard(this);
        save([guard, pending] {
            if (guard)
                guard->navigate(pending);
        });
        break;
    }
    case UnsavedResolution::discard:
        perform(pending);
        break;
    case UnsavedResolution::cancel:
        break;
    }
}

void AppModel::perform(const PendingNavigation& pending) {
    if (const auto* target = std::get_if<std::optional<Selection>>(&pending.value)) {
        performSelect(*target);
    } else if (const auto* state = std::get_if<EditorState>(&pending.value)) {
        EditorState copy = *state;
        copy.origin.reset();
        copy.destination.reset();
        copy.name = state->trimmedName() + QStringLiteral(" copy");
        copy.nameEdited = true;
        addDraft(copy);
    } else {
        createNewApp();
    }
}

void AppModel::performSelect(const std::optional<Selection>& selection) {
    mirrorEditorIntoDraft();
    setSelection(selection);
    if (selection && selection->kind == Selection::Kind::draft) {
        auto draft = std::find_if(drafts_.begin(), drafts_.end(), [&](const DraftApp& candidate) {
            return candidate.id == selection->draftID;
        });
        if (draft != drafts_.end()) {
            isMirroring_ = true;
            setEditor(draft->state);
            isMirroring_ = false;
        }
    } else if (selection && selection->kind == Selection::Kind::saved) {
        auto app = std::find_if(apps_.begin(), apps_.end(), [&](const RegisteredApp& candidate) {
            return candidate.bundleID == selection->bundleID;
        });
        if (app != apps_.end()) {
            isMirroring_ = true;
            setEditor(EditorState::fromApp(*app));
            isMirroring_ = false;
        }
    }
    loadTabGroups(editor_.profileDirectory, false);
}

void AppModel::reloadKeepingEdits(const QString& bundleID, const EditorState& before) {
    const EditorState edited = editor_;
    performSelect(Selection::saved(bundleID));
    EditorState copy = editor_;
    copy.carryEdits(before, edited);
    setEditor(copy);
}

void AppModel::createNewApp() {
    EditorState state;
    if (!profiles_.empty()) {
        const ChromeProfile& profile = profiles_.front();
        state.setProfileDirectory(profile.directory);
        state.profileName = profile.name;
        state.name = state.defaultName();
        if (profile.highlightColor)
            if (const auto color = IconColor::fromChromeHighlight(*profile.highlightColor))
                state.badgeColor = *color;
    }
    addDraft(state);
}

void AppModel::addDraft(const EditorState& state) {
    const QUuid id = QUuid::createUuid();
    drafts_.push_back(DraftApp{id, state});
    emit draftsChanged();
    performSelect(Selection::draft(id));
}

void AppModel::discardDraft(QUuid id) {
    std::vector<DraftApp> kept;
    std::copy_if(drafts_.begin(), drafts_.end(), std::back_inserter(kept),
                 [&](const DraftApp& draft) { return draft.id != id; });
    setDrafts(std::move(kept));
    if (selection_ == Selection::draft(id))
        selectSomethingElse();
}

void AppModel::selectSomethingElse() {
    if (!apps_.empty())
        performSelect(Selection::saved(apps_.front().bundleID));
    else if (!drafts_.empty())
        performSelect(Selection::draft(drafts_.front().id));
    else
        performSelect(std::nullopt);
}

std::optional<EditorState> AppModel::state(const Selection& selection) const {
    switch (selection.kind) {
    case Selection::Kind::rules:
    case Selection::Kind::system:
    case Selection::Kind::recentLinks:
        return std::nullopt;
    case Selection::Kind::draft: {
        auto draft = std::find_if(drafts_.begin(), drafts_.end(), [&](const DraftApp& candidate) {
            return candidate.id == selection.draftID;
        });
        if (draft == drafts_.end())
            return std::nullopt;
        return selection_ == selection ? editor_ : draft->state;
    }
    case Selection::Kind::saved: {
        auto app = std::find_if(apps_.begin(), apps_.end(), [&](const RegisteredApp& candidate) {
            return candidate.bundleID == selection.bundleID;
        });
        if (app == apps_.end())
            return std::nullopt;
        return selection_ == selection ? editor_ : EditorState::fromApp(*app);
    }
    }
    return std::nullopt;
}

void AppModel::selectProfile(const ChromeProfile& profile) {
    const bool nameFollows = editor_.isDraft() && !editor_.nameEdited;
    EditorState copy = editor_;
    copy.setProfileDirectory(profile.directory);
    copy.profileName = profile.name;
    if (nameFollows) {
        copy.name = copy.defaultName();
        if (profile.highlightColor)
            if (const auto color = IconColor::fromChromeHighlight(*profile.highlightColor))
                copy.badgeColor = *color;
    }
    setEditor(copy);
    loadTabGroups(profile.directory, false);
}

void AppModel::selectTabGroup(const std::optional<QString>& name) {
    const bool nameFollows = editor_.isDraft() && !editor_.nameEdited;
    EditorState copy = editor_;
    copy.tabGroupName = name && !name->isEmpty() ? name : std::nullopt;
    if (nameFollows)
        copy.name = copy.defaultName();
    setEditor(copy);
}
