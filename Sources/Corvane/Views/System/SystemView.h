#pragma once

#include <QLabel>
#include <QWidget>

class AppModel;
class FormSection;
class HelperSection;
class OtherBrowsersSection;
class PageStatusBar;
class QAbstractButton;
class QCheckBox;
class QHBoxLayout;
class QPushButton;
class QVBoxLayout;
class RouteTargetLabel;
class RoutingModel;

// The small status image of the system page's rows: a green check mark when all is well, else an orange
// warning triangle.
class StatusDot : public QLabel {
    Q_OBJECT

public:
    explicit StatusDot(bool isGood = false, QWidget* parent = nullptr);

    bool isGood() const { return isGood_; }
    void setGood(bool isGood);

private:
    void draw();

    bool isGood_;
};

// A row of the system page: a leading image, a title over a detail line, then the row's buttons.
class StatusRow : public QWidget {
    Q_OBJECT

public:
    StatusRow(QWidget* leading, const QString& title, QWidget* parent = nullptr);

    QLabel* title() const { return title_; }
    QLabel* detail() const { return detail_; }
    void addTrailing(QWidget* widget);

private:
    QLabel* title_;
    QLabel* detail_;
    QHBoxLayout* layout_;
};

// How the system page's buttons stand out: the prominent one of a row is filled with the accent colour;
// small ones sit in a smaller font.
namespace ButtonStyle {
void setProminent(QPushButton* button, bool prominent);
bool isProminent(const QPushButton* button);
void makeSmall(QAbstractButton* button);
} // namespace ButtonStyle

// The detail page of the sidebar's "System": the background helper, the default browser and the file types
// it opens, helper use, login and Accessibility, the out-of-date notice of proxy apps, a summary of the rules
// and the browsers offered as rule targets; the routing model's lines at the bottom.
class SystemView : public QWidget {
    Q_OBJECT

public:
    SystemView(AppModel& model, RoutingModel& routing, QWidget* parent = nullptr);

    // The name the default-browser row gives the browser that takes web links now.
    QString currentDefaultName() const;

private:
    FormSection* makeStaleHelperSection();
    FormSection* makeDefaultBrowserSection();
    FormSection* makeProxyAppsSection();
    FormSection* makeRoutingSummarySection();

    void refreshStaleHelper();
    void refreshDefaultBrowser();
    void refreshFileTypes();
    void refreshProxyApps();
    void refreshRoutingSummary();
    void refreshFooter();

    AppModel& model_;
    RoutingModel& routing_;

    FormSection* staleHelperSection_ = nullptr;
    StatusDot* defaultDot_ = nullptr;
    QLabel* defaultDetail_ = nullptr;
    QPushButton* openSettingsButton_ = nullptr;
    QPushButton* makeDefaultButton_ = nullptr;
    std::vector<std::pair<QString, QCheckBox*>> fileTypeToggles_;
    HelperSection* helperSection_ = nullptr;
    FormSection* proxyAppsSection_ = nullptr;
    QCheckBox* notifyToggle_ = nullptr;
    QWidget* rebuildRow_ = nullptr;
    QLabel* rebuildTitle_ = nullptr;
    QPushButton* rebuildButton_ = nullptr;
    QLabel* rulesInUse_ = nullptr;
    QVBoxLayout* fallbackBox_ = nullptr;
    RouteTargetLabel* fallbackTarget_ = nullptr;
    QLabel* automaticFallback_ = nullptr;
    OtherBrowsersSection* browsersSection_ = nullptr;
    PageStatusBar* footer_ = nullptr;
};
