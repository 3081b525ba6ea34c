#pragma once

#include "Corvane/Models/BuildRequest.h"
#include "Corvane/Models/EditorState.h"
#include "Corvane/Models/HelperProbe.h"
#include "Corvane/Models/Migration.h"
#include "CorvaneCore/Integration/RenameMigration.h"
#include "CorvaneCore/Messaging/IPCProtocol.h"
#include "CorvaneCore/ProxyApps/ChromeProfiles.h"
#include "CorvaneCore/ProxyApps/Registry.h"
#include "CorvaneIcon/SymbolCatalog.h"

#include <QMap>
#include <QObject>
#include <QUuid>
#include <QVariant>
#include <functional>
#include <memory>
#include <optional>
#include <variant>
#include <vector>

// The creator app's central model: Chrome's profiles, the registered proxy apps and the drafts of new ones,
// the sidebar selection and the editor, the helper's status, and every action on proxy apps (save, rebuild,
// remove, locate, reveal, import) with the status and error lines that report them. Every assignment of a
// published property emits its change signal. Main thread only; builds run on background threads and hand
// their results back to the main queue while the model lives.
class AppModel : public QObject {
    Q_OBJECT

public:
    // The sidebar item shown in the detail area.
    struct Selection {
        enum class Kind { saved, draft, rules, system, recentLinks };
        Kind kind = Kind::rules;
        QString bundleID; // saved
        QUuid draftID;    // draft

        static Selection saved(QString bundleID) { return {Kind::saved, std::move(bundleID), {}}; }
        static Selection draft(QUuid id) { return {Kind::draft, {}, id}; }
        static Selection rules() { return {Kind::rules, {}, {}}; }
        static Selection system() { return {Kind::system, {}, {}}; }
        static Selection recentLinks() { return {Kind::recentLinks, {}, {}}; }
        bool operator==(const Selection&) const = default;
    };
    struct DraftApp {
        QUuid id;
        EditorState state;
        bool operator==(const DraftApp&) const = default;
    };
    struct UnsavedPrompt {
        QUuid id;
        QString appName;
        bool operator==(const UnsavedPrompt&) const = default;
    };
    enum class UnsavedResolution { save, discard, cancel };
    // What the user asked for while edits were unsaved.
    struct PendingNavigation {
        struct NewApp {
            bool operator==(const NewApp&) const = default;
        };
        std::variant<std::optional<Selection>, EditorState, NewApp> value;

        static PendingNavigation selection(std::optional<Selection> s) { return {std::move(s)}; }
        static PendingNavigation duplicate(EditorState state) { return {std::move(state)}; }
        static PendingNavigation newApp() { return {NewApp{}}; }
        bool operator==(const PendingNavigation&) const = default;
    };
    struct MigrationChoice {
        bool selected = false;
        QString profileDirectory;
        bool operator==(const MigrationChoice&) const = default;
    };
    using TabGroupMap = QMap<QString, std::vector<TabGroupInfo>>;

    // The model talks to the helper through `link` (the helper's socket when none is given).
    explicit AppModel(std::shared_ptr<HelperConnection> link = {}, QObject* parent = nullptr);
    ~AppModel() override;

    // Published.
    const std::vector<ChromeProfile>& profiles() const { return profiles_; }
    const std::vector<RegisteredApp>& apps() const { return apps_; }
    const std::vector<DraftApp>& drafts() const { return drafts_; }
    const std::optional<Selection>& selection() const { return selection_; }
    // Set directly only by the buttons that skip the unsaved-changes question.
    void setSelection(std::optional<Selection> value);
    const EditorState& editor() const { return editor_; }
    // Stores the editor and copies it into the selected draft.
    void setEditor(EditorState value);
    const TabGroupMap& tabGroups() const { return tabGroups_; }
    bool isLoadingTabGroups() const { return isLoadingTabGroups_; }
    const TabGroupMap& deepTabGroups() const { return deepTabGroups_; }
    bool isDeepScanning() const { return isDeepScanning_; }
    bool helperTrusted() const { return helperTrusted_; }
    bool helperRunning() const { return helperRunning_; }
    bool canCreateProxyApps() const { return canCreateProxyApps_; }
    bool helperDisabled() const { return helperDisabled_; }
    const std::optional<QString>& statusMessage() const { return statusMessage_; }
    void setStatusMessage(std::optional<QString> value);
    const std::optional<QString>& errorMessage() const { return errorMessage_; }
    bool isBusy() const { return isBusy_; }
    // The symbol catalog once its background load finished; none before.
    const std::optional<SymbolCatalog::Catalog>& symbolCatalog() const { return symbolCatalog_; }
    const RenameMigration::Outcome& renameOutcome() const { return renameOutcome_; }
    const std::vector<LegacyApp>& legacyApps() const { return legacyApps_; }
    const QMap<QString, MigrationChoice>& migrationChoices() const { return migrationChoices_; }
    bool showingMigration() const { return showingMigration_; }
    void setShowingMigration(bool value);
    const std::optional<UnsavedPrompt>& unsavedPrompt() const { return unsavedPrompt_; }

    HelperProbe& probe() { return *probe_; }
    std::function<void()> onRoutingHistoryChanged;

    // What the model builds with; replaced in tests.
    BuildFunction buildApp = defaultBuildFunction();
    RestampFunction restampIcon = defaultRestampFunction();
    // Loads the symbol catalog (off the main thread); none skips it.
    std::function<SymbolCatalog::Catalog()> loadSymbolCatalog = [] { return SymbolCatalog::load(); };
    // Installs the helper from the creator's bundle; true when it copied.
    std::function<bool(bool force)> installHelper;

    // Selection, drafts and the unsaved-changes question.
    void select(const std::optional<Selection>& selection);
    void navigate(const PendingNavigation& pending);
    void resolveUnsaved(UnsavedResolution resolution);
    // By value: the id may be one of the drafts that this drops.
    void discardDraft(QUuid id);
    std::optional<EditorState> state(const Selection& selection) const;
    void selectProfile(const ChromeProfile& profile);
    void selectTabGroup(const std::optional<QString>& name);
    void mirrorEditorIntoDraft();
    void selectSomethingElse();

    // Start-up and the helper's status.
    void load();
    void refreshHelperStatus();
    void helperUseChanged();
    // The system page's repair of the helper's Accessibility grant: reports a cleared entry on the status
    // line and returns none, or returns why the entry could not be cleared (the status line is left alone).
    // With helper use off nothing is tried: no line, and none.
    std::optional<QString> repairHelperGrant();

    // Saving and rebuilding.
    void save(std::function<void()> then = {});
    std::vector<RegisteredApp> outdatedApps() const;
    int appsNeedingRebuild() const;
    QString updateButtonTitle() const;
    void rebuildOutdated();
    void rebuild(const std::vector<RegisteredApp>& apps);

    // One registered app.
    void deleteApp(const RegisteredApp& app);
    void forget(const RegisteredApp& app);
    void locate(const RegisteredApp& app);
    void stampFinderIcon(const RegisteredApp& app);
    void revealInFinder(const RegisteredApp& app);

    // Import of script-built apps and the rename notice.
    void offerMigrationIfNeeded();
    bool migrationSelection(const LegacyApp& app) const;
    void setMigrationSelection(const LegacyApp& app, bool selected);
    QString migrationProfile(const LegacyApp& app) const;
    void setMigrationProfile(const LegacyApp& app, const QString& profileDirectory);
    void runMigration();
    QString renameRowTitle() const;
    QString renameAdvice() const;
    void removeRenameLeftovers();

    // Tab groups of the editor's profile.
    void loadTabGroups(const QString& profileDirectory, bool force);
    void findAllTabGroups();
    std::vector<TabGroupInfo> tabGroupsForEditor() const;
    bool didDeepScanEditorProfile() const;

    static constexpr double deepScanDelay = 0.4;

signals:
    void profilesChanged();
    void appsChanged();
    void draftsChanged();
    void selectionChanged();
    void editorChanged();
    void tabGroupsChanged();
    void isLoadingTabGroupsChanged();
    void deepTabGroupsChanged();
    void isDeepScanningChanged();
    void helperTrustedChanged();
    void helperRunningChanged();
    void canCreateProxyAppsChanged();
    void helperDisabledChanged();
    void statusMessageChanged();
    void errorMessageChanged();
    void isBusyChanged();
    void symbolCatalogChanged();
    void renameOutcomeChanged();
    void legacyAppsChanged();
    void migrationChoicesChanged();
    void showingMigrationChanged();
    void unsavedPromptChanged();

private:
    // What a background build hands back: the built apps and the last failure's text.
    struct BuildOutcome {
        std::vector<RegisteredApp> built;
        std::optional<QString> lastError;
        int counted = 0;
    };
    struct SaveContext;

    void perform(const PendingNavigation& pending);
    void performSelect(const std::optional<Selection>& selection);
    // Loads the saved app's editor from the registry, keeping what the user changed since `before`.
    void reloadKeepingEdits(const QString& bundleID, const EditorState& before);
    void createNewApp();
    void addDraft(const EditorState& state);
    bool hasUnsavedEdits() const;
    void setDestination(const QUrl& folder);
    void finishSave(const SaveContext& context, const BuildOutcome& outcome);
    void republishApps();
    // Writes the registry. One that cannot be written keeps its apps for this run: the list on screen comes
    // from the registry in memory.
    void saveRegistry();
    // Runs `work` on a thread of its own and hands its outcome to `done` on the main queue, if the model
    // still exists then.
    void runInBackground(std::function<BuildOutcome()> work, std::function<void(const BuildOutcome&)> done);
    // The bundle at the app's path is that app (same identifier); sets the error line when it is not, or when
    // nothing is there any more.
    bool checkIdentity(const RegisteredApp& app);
    // The error line for an app whose bundle is no longer at its registered place.
    static QString notWhereItUsedToBe(const QString& appName);

    void setProfiles(std::vector<ChromeProfile> value);
    void setApps(std::vector<RegisteredApp> value);
    void setDrafts(std::vector<DraftApp> value);
    void setTabGroups(TabGroupMap value);
    void setIsLoadingTabGroups(bool value);
    void setDeepTabGroups(TabGroupMap value);
    void setIsDeepScanning(bool value);
    void setHelperTrusted(bool value);
    void setHelperRunning(bool value);
    void setCanCreateProxyApps(bool value);
    void setHelperDisabled(bool value);
    void setErrorMessage(std::optional<QString> value);
    void setIsBusy(bool value);
    void setSymbolCatalog(std::optional<SymbolCatalog::Catalog> value);
    void setRenameOutcome(RenameMigration::Outcome value);
    void setLegacyApps(std::vector<LegacyApp> value);
    void setMigrationChoices(QMap<QString, MigrationChoice> value);
    void setUnsavedPrompt(std::optional<UnsavedPrompt> value);

    std::vector<ChromeProfile> profiles_;
    std::vector<RegisteredApp> apps_;
    std::vector<DraftApp> drafts_;
    std::optional<Selection> selection_;
    EditorState editor_;
    TabGroupMap tabGroups_;
    bool isLoadingTabGroups_ = false;
    TabGroupMap deepTabGroups_;
    bool isDeepScanning_ = false;
    bool helperTrusted_ = false;
    bool helperRunning_ = false;
    bool canCreateProxyApps_ = false;
    bool helperDisabled_ = false;
    std::optional<QString> statusMessage_;
    std::optional<QString> errorMessage_;
    bool isBusy_ = false;
    std::optional<SymbolCatalog::Catalog> symbolCatalog_;
    RenameMigration::Outcome renameOutcome_;
    std::vector<LegacyApp> legacyApps_;
    QMap<QString, MigrationChoice> migrationChoices_;
    bool showingMigration_ = false;
    Registry registry_;
    std::shared_ptr<HelperProbe> probe_;
    std::optional<UnsavedPrompt> unsavedPrompt_;
    std::optional<PendingNavigation> pendingNavigation_;
    bool isMirroring_ = false;
};

size_t qHash(const AppModel::Selection& selection, size_t seed = 0) noexcept;
