#pragma once

#include "Corvane/Views/Kit/PageForm.h"
#include "CorvaneCore/Routing/LinkRouter.h"

#include <functional>
#include <optional>

class AppModel;
class QLabel;
class QLineEdit;
class QPushButton;
class RoutingModel;

// The "Test a Link" section of the rules page: the user types a link and may name the app it comes from,
// and the section shows at once which rule would claim it and where it would open. It asks the routing
// model's router about the rules in memory on every keystroke and never opens anything.
class RuleTesterView : public FormSection {
    Q_OBJECT

public:
    // Builds the label of a route target at an icon size.
    using TargetLabelFactory = std::function<QWidget*(const RouteTarget&, int iconSize, QWidget* parent)>;

    RuleTesterView(AppModel& model, RoutingModel& routing, TargetLabelFactory makeTargetLabel,
                   QWidget* parent = nullptr);

    const QString& testLink() const { return testLink_; }
    const std::optional<QString>& testSource() const { return testSource_; }
    // What the source menu's pick does ("Any App" sets none).
    void setTestSource(const std::optional<QString>& bundleID);

    // Works the answer out again (the rules or the fallback changed).
    void refresh();
    // The same after the proxy apps or the browsers changed: target labels are built afresh.
    void refreshTargets();

    // The name of the browser an automatic fallback stands for, as the tester shows it.
    static QString automaticFallbackName(const RuleSet& set);

private:
    void showDecision(const std::optional<RouteDecision>& decision);
    void showTarget(const std::optional<RouteTarget>& target);
    void rebuildSourceControl();
    QWidget* makeSourceMenu();

    AppModel& model_;
    RoutingModel& routing_;
    TargetLabelFactory makeTargetLabel_;
    QString testLink_;
    std::optional<QString> testSource_;

    QLineEdit* link_;
    QWidget* sourceRow_;
    QWidget* sourceMenu_ = nullptr;
    QPushButton* anyApp_;
    QLabel* prompt_;
    QWidget* notALink_;
    QLabel* matches_;
    QWidget* openIn_;
    QWidget* openInContent_ = nullptr;
    // What the "Would open in" row shows now: a target, or the automatic fallback's name.
    std::optional<std::optional<RouteTarget>> shownTarget_;
};
