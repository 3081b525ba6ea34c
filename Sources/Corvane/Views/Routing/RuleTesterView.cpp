#include "Corvane/Views/Routing/RuleTesterView.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Models/RoutingModel.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"
#include "Corvane/Views/Kit/SourceAppControls.h"
#include "Corvane/Views/Kit/SystemImages.h"

#include <QFileInfo>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <algorithm>

namespace {

const QString promptText = QStringLiteral("Type a link to see which rule would claim it. Nothing is opened.");
const QString notALinkText = QStringLiteral("That doesn't look like a link.");
const QString fallbackMatch = QStringLiteral("No rule — the fallback");

// Spaces and tabs only, as the router trims.
bool isBlank(const QString& text) {
    return std::all_of(text.begin(), text.end(),
                       [](QChar c) { return c == QLatin1Char(' ') || c == QLatin1Char('\t'); });
}

void setSecondary(QLabel* label, bool secondary) {
    TextStyle::setColor(label, secondary ? ViewColors::secondary()
                                         : QGuiApplication::palette().color(QPalette::WindowText));
}

} // namespace

RuleTesterView::RuleTesterView(AppModel& model, RoutingModel& routing, TargetLabelFactory makeTargetLabel,
                               QWidget* parent)
    : FormSection(QStringLiteral("Test a Link"), parent)
    , model_(model)
    , routing_(routing)
    , makeTargetLabel_(std::move(makeTargetLabel)) {
    setObjectName(QStringLiteral("ruleTester"));

    link_ = new QLineEdit(this);
    link_->setObjectName(QStringLiteral("testLink"));
    QFont mono = QFontDatabase::systemFont(QFontDatabase::FixedFont);
    mono.setPointSizeF(link_->font().pointSizeF());
    link_->setFont(mono);
    link_->setPlaceholderText(QStringLiteral("https://www.example.com/reports/today"));
    addRow(QStringLiteral("Link"), link_);

    sourceRow_ = new QWidget(this);
    auto* source = new QHBoxLayout(sourceRow_);
    source->setContentsMargins(0, 0, 0, 0);
    source->setSpacing(6);
    anyApp_ = new QPushButton(QStringLiteral("Any App"), sourceRow_);
    anyApp_->setObjectName(QStringLiteral("testAnyApp"));
    QFont small = anyApp_->font();
    small.setPointSizeF(small.pointSizeF() * 0.85);
    anyApp_->setFont(small);
    source->addWidget(anyApp_);
    source->addStretch(1);
    addRow(QStringLiteral("Opened from"), sourceRow_);

    prompt_ = new QLabel(promptText, this);
    prompt_->setObjectName(QStringLiteral("testPrompt"));
    prompt_->setWordWrap(true);
    TextStyle::caption(prompt_);
    addRow(prompt_);

    notALink_ = TextStyle::warning(notALinkText, true, this);
    notALink_->setObjectName(QStringLiteral("testNotALink"));
    addRow(notALink_);

    matches_ = new QLabel(this);
    matches_->setObjectName(QStringLiteral("testMatches"));
    matches_->setTextFormat(Qt::PlainText);
    addRow(QStringLiteral("Matches"), matches_);

    openIn_ = new QWidget(this);
    openIn_->setObjectName(QStringLiteral("testOpensIn"));
    auto* openIn = new QHBoxLayout(openIn_);
    openIn->setContentsMargins(0, 0, 0, 0);
    addRow(QStringLiteral("Would open in"), openIn_);

    connect(link_, &QLineEdit::textEdited, this, [this](const QString& text) {
        testLink_ = text;
        refresh();
    });
    connect(anyApp_, &QPushButton::clicked, this, [this] { setTestSource(std::nullopt); });

    rebuildSourceControl();
    refresh();
}

void RuleTesterView::setTestSource(const std::optional<QString>& bundleID) {
    if (testSource_ == bundleID)
        return;
    testSource_ = bundleID;
    rebuildSourceControl();
    refresh();
}

void RuleTesterView::rebuildSourceControl() {
    auto* row = static_cast<QHBoxLayout*>(sourceRow_->layout());
    QWidget* replaced = makeSourceMenu();
    replaced->setObjectName(QStringLiteral("testSourceMenu"));
    if (sourceMenu_) {
        // The layout hands back the old widget\'s item, which it no longer owns.
        delete row->replaceWidget(sourceMenu_, replaced);
        sourceMenu_->deleteLater();
    } else {
        row->insertWidget(0, replaced);
    }
    sourceMenu_ = replaced;
    Quiet::setVisible(anyApp_, testSource_.has_value());
}

void RuleTesterView::refresh() {
    showDecision(routing_.test(testLink_, testSource_));
}

void RuleTesterView::showDecision(const std::optional<RouteDecision>& decision) {
    QFormLayout* form = rows();
    form->setRowVisible(prompt_, !decision && isBlank(testLink_));
    form->setRowVisible(notALink_, !decision && !isBlank(testLink_));
    form->setRowVisible(matches_, decision.has_value());
    form->setRowVisible(openIn_, decision.has_value());
    if (!decision)
        return;

    QFont font = matches_->font();
    if (decision->rule) {
        Quiet::setText(matches_, decision->rule->name);
        font.setWeight(QFont::Medium);
    } else {
        Quiet::setText(matches_, fallbackMatch);
        font.setWeight(QFont::Normal);
    }
    if (matches_->font() != font)
        matches_->setFont(font);
    setSecondary(matches_, !decision->rule);
    showTarget(decision->target ? decision->target : routing_.ruleSet().fallback);
}

void RuleTesterView::showTarget(const std::optional<RouteTarget>& target) {
    // The automatic name depends on the browsers and the rule set: worked out each time it is shown.
    if (shownTarget_ && *shownTarget_ == target && target)
        return;
    QWidget* replaced = nullptr;
    if (target) {
        replaced = makeTargetLabel_(*target, 18, openIn_);
    } else {
        const QString name = automaticFallbackName(routing_.ruleSet());
        if (auto* shown = qobject_cast<QLabel*>(openInContent_); shown && shownTarget_ && !*shownTarget_) {
            Quiet::setText(shown, name);
            return;
        }
        auto* label = new QLabel(name, openIn_);
        label->setTextFormat(Qt::PlainText);
        setSecondary(label, true);
        replaced = label;
    }
    replaced->setObjectName(QStringLiteral("testTarget"));
    auto* row = static_cast<QHBoxLayout*>(openIn_->layout());
    if (openInContent_) {
        // The layout hands back the old widget\'s item, which it no longer owns.
        delete row->replaceWidget(openInContent_, replaced);
        delete openInContent_;
    } else {
        row->addWidget(replaced, 1);
    }
    openInContent_ = replaced;
    shownTarget_ = target;
}

void RuleTesterView::refreshTargets() {
    shownTarget_.reset();
    refresh();
}

QWidget* RuleTesterView::makeSourceMenu() {
    auto* menu = new SourceAppMenu(routing_, {}, sourceRow_);
    menu->setToolButtonStyle(Qt::ToolButtonTextOnly);
    if (testSource_) {
        // The chosen app drawn as its label inside the button.
        auto* inside = new QHBoxLayout(menu);
        inside->setContentsMargins(6, 2, 18, 2);
        auto* label = new SourceAppLabel(*testSource_, routing_, 16, menu);
        label->setObjectName(QStringLiteral("testSourceLabel"));
        label->setAttribute(Qt::WA_TransparentForMouseEvents);
        inside->addWidget(label);
        menu->setMinimumSize(inside->sizeHint());
        menu->setAccessibleName(label->shownName());
    } else {
        menu->setText(QStringLiteral("Any app"));
        menu->setAccessibleName(QStringLiteral("Any app"));
    }
    connect(menu, &SourceAppMenu::picked, this, [this](const QString& bundleID) { setTestSource(bundleID); });
    return menu;
}

QString RuleTesterView::automaticFallbackName(const RuleSet& set) {
    if (const auto path = BrowserCatalog::lastResort(set))
        return QFileInfo(*path).completeBaseName();
    return QStringLiteral("No browser available");
}
