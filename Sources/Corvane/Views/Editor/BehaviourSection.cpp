#include "Corvane/Views/Editor/BehaviourSection.h"

#include "Corvane/Models/AppModel.h"
#include "Corvane/Views/Kit/PageForm.h"
#include "Corvane/Views/Kit/QuietSetters.h"

#include <QCheckBox>
#include <QLabel>
#include <QVBoxLayout>

BehaviourSection::BehaviourSection(AppModel& model, QWidget* parent)
    : QWidget(parent)
    , model_(model) {
    setObjectName(QStringLiteral("behaviourSection"));
    auto* column = new QVBoxLayout(this);
    column->setContentsMargins(0, 0, 0, 0);

    current_ = this;
    addSwitch(QStringLiteral("Offer this app as a browser for links"),
              QStringLiteral("registerAsBrowserSwitch"), &EditorState::registerAsBrowser);

    groupRows_ = new QWidget(this);
    groupRows_->setObjectName(QStringLiteral("groupBehaviourRows"));
    new QVBoxLayout(groupRows_);
    groupRows_->layout()->setContentsMargins(0, 0, 0, 0);
    column->addWidget(groupRows_);
    current_ = groupRows_;
    addNote(
        QStringLiteral("A link opened this way lands in the profile, not in the group — Chrome offers no way "
                       "to add a tab to a group from outside."),
        QStringLiteral("groupLinkNote"));
    addSwitch(QStringLiteral("Give this group its own window"), QStringLiteral("ownWindowSwitch"),
              &EditorState::ownWindow);
    addSwitch(QStringLiteral("On Quit Close this Tab Group"), QStringLiteral("closeGroupOnQuitSwitch"),
              &EditorState::closeOnQuit);

    profileRows_ = new QWidget(this);
    profileRows_->setObjectName(QStringLiteral("profileBehaviourRows"));
    new QVBoxLayout(profileRows_);
    profileRows_->layout()->setContentsMargins(0, 0, 0, 0);
    column->addWidget(profileRows_);
    current_ = profileRows_;
    addSwitch(QStringLiteral("Count Incognito windows"), QStringLiteral("includeIncognitoSwitch"),
              &EditorState::includeIncognito);
    addNote(
        QStringLiteral("Incognito windows don't advertise which profile they belong to, so they only count "
                       "when this app opened them or they were opened from one of its windows."),
        QStringLiteral("incognitoNote"));
    addSwitch(QStringLiteral("Count web-app windows"), QStringLiteral("countAppWindowsSwitch"),
              &EditorState::countAppWindows);
    addSwitch(QStringLiteral("On Quit Close all Chrome Windows for this Profile"),
              QStringLiteral("closeProfileOnQuitSwitch"), &EditorState::closeOnQuit);
    current_ = nullptr;

    refresh();
}

QCheckBox* BehaviourSection::addSwitch(const QString& title, const QString& objectName,
                                       bool EditorState::*field) {
    auto* box = new QCheckBox(TextStyle::forMenu(title), current_);
    box->setObjectName(objectName);
    box->setAccessibleName(title);
    current_->layout()->addWidget(box);
    switches_.emplace_back(box, field);
    connect(box, &QCheckBox::clicked, this, [this, field](bool checked) {
        EditorState edited = model_.editor();
        edited.*field = checked;
        model_.setEditor(edited);
    });
    return box;
}

QLabel* BehaviourSection::addNote(const QString& text, const QString& objectName) {
    auto* note = new QLabel(text, current_);
    note->setObjectName(objectName);
    note->setWordWrap(true);
    TextStyle::caption(note);
    current_->layout()->addWidget(note);
    return note;
}

void BehaviourSection::refresh() {
    const EditorState& editor = model_.editor();
    const bool opensGroup = editor.tabGroupName && !editor.tabGroupName->isEmpty();
    Quiet::setVisible(groupRows_, opensGroup);
    Quiet::setVisible(profileRows_, !opensGroup);
    for (const auto& [box, field] : switches_)
        Quiet::setChecked(box, editor.*field);
}
