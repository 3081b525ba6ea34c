#pragma once

#include "Corvane/Views/Kit/MenuEntries.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "CorvaneCore/Routing/BrowserCatalog.h"

#include <QMap>

class ElidedLabel;
class QCheckBox;
class QLabel;
class QPushButton;
class QVBoxLayout;
class RoutingModel;

// One browser of the "Other Browsers" list: its icon, name and version, and the switch that offers it as a
// rule target. Its context menu removes a browser the user added by hand.
class BrowserRow : public QWidget {
    Q_OBJECT

public:
    BrowserRow(RoutingModel& routing, const BrowserEntry& entry, QWidget* parent = nullptr);

    const BrowserEntry& entry() const { return entry_; }
    void setEntry(const BrowserEntry& entry);
    // Shows the switch as the rule set has it.
    void refreshOffered();
    QCheckBox* offeredSwitch() const { return switch_; }
    QString shownName() const;
    QString shownDetail() const;
    std::vector<MenuEntry> contextMenuEntries();

    // Whether the browser is offered when a rule's target is picked: the user's choice, else whether it is a
    // known browser.
    static bool isOffered(const BrowserEntry& entry, const RuleSet& rules);
    // "Remove from List" for a browser added by hand; nothing for any other.
    static std::vector<MenuEntry> menuEntries(const BrowserEntry& entry, const RuleSet& rules,
                                              const std::function<void()>& remove);

private:
    void setOffered(bool offered);

    RoutingModel& routing_;
    BrowserEntry entry_;
    QLabel* icon_;
    ElidedLabel* name_;
    QLabel* detail_;
    QCheckBox* switch_;
};

// The system page's "Other Browsers" section: every browser the routing model knows, with its switch, and
// "Add Browser…" for an application that opens links without saying so.
class OtherBrowsersSection : public FormSection {
    Q_OBJECT

public:
    explicit OtherBrowsersSection(RoutingModel& routing, QWidget* parent = nullptr);

    // The rows in the order shown.
    std::vector<BrowserRow*> rows() const;
    BrowserRow* row(const QString& bundleID) const { return rows_.value(bundleID); }

private:
    void refreshList();
    void refreshChoices();
    void add();

    RoutingModel& routing_;
    QLabel* empty_;
    QWidget* list_;
    QVBoxLayout* listColumn_;
    QMap<QString, BrowserRow*> rows_;
    QLabel* removeHint_;
};
