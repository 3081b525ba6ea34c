#pragma once

#include "Corvane/Views/Editor/IconPreviewView.h"
#include "CorvaneHost/BackgroundWork.h"
#include "CorvaneIcon/SymbolCatalog.h"
#include "Support/VirtualTime.h"

#include <QCoreApplication>
#include <condition_variable>
#include <mutex>
#include <set>
#include <vector>

namespace test {

// A render function for the icon views that records what it was asked, draws a square in the badge colour,
// fails for the symbols it is told to, and holds the renders of one symbol until released.
class RecordingRenderer {
public:
    struct Call {
        IconSpec spec;
        int points;
    };

    RecordingRenderer() {
        IconPreviews::setRenderFunction(
            [this](const IconSpec& spec, int points, const std::optional<QImage>&) {
                return render(spec, points);
            });
    }
    ~RecordingRenderer() {
        release();
        host::waitForBackgroundWork();
        IconPreviews::setRenderFunction({});
    }

    std::vector<Call> calls() const {
        std::lock_guard lock(mutex_);
        return calls_;
    }
    // The descriptions rendered at `points`, in order.
    std::vector<IconSpec> rendered(int points) const {
        std::vector<IconSpec> specs;
        for (const Call& call : calls())
            if (call.points == points)
                specs.push_back(call.spec);
        return specs;
    }
    void failFor(const QString& symbol) {
        std::lock_guard lock(mutex_);
        failing_.insert(symbol);
    }
    void hold(const QString& symbol) {
        std::lock_guard lock(mutex_);
        held_ = symbol;
    }
    void release() {
        {
            std::lock_guard lock(mutex_);
            held_.clear();
        }
        changed_.notify_all();
    }
    // Waits for the running renders to end and their results to be handed to the views over the main queue.
    static void settle(VirtualTime& time) {
        host::waitForBackgroundWork();
        time.runUntilIdle();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
    }

    static QColor colourOf(const QImage& image) {
        return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
    }

private:
    std::optional<QImage> render(const IconSpec& spec, int points) {
        std::unique_lock lock(mutex_);
        calls_.push_back({spec, points});
        changed_.wait(lock, [&] { return held_.isEmpty() || held_ != spec.symbolName; });
        if (failing_.contains(spec.symbolName))
            return std::nullopt;
        QImage image(2 * points, 2 * points, QImage::Format_ARGB32_Premultiplied);
        image.fill(spec.badgeColor.toQColor());
        image.setDevicePixelRatio(2);
        return image;
    }

    mutable std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<Call> calls_;
    std::set<QString> failing_;
    QString held_;
};

// A small catalog: a person family of five forms (and person.2, a symbol of its own), stars, a briefcase pair
// and a car, in three categories.
inline SymbolCatalog::Catalog fixtureCatalog() {
    SymbolCatalog::Catalog catalog;
    catalog.symbols = {"person",        "person.fill",    "person.circle", "person.circle.fill",
                       "person.square", "person.2",       "star",          "star.fill",
                       "briefcase",     "briefcase.fill", "car",           "globe"};
    catalog.browsable = {"person", "person.circle", "person.square", "person.2",
                         "star",   "briefcase",     "car",           "globe"};
    catalog.categories = {{"human", "person"}, {"objectsandtools", "briefcase"}, {"transportation", "car"}};
    catalog.membership = {{"person", {"human"}},
                          {"person.2", {"human"}},
                          {"person.circle.fill", {"human"}},
                          {"briefcase", {"objectsandtools"}},
                          {"car", {"transportation"}}};
    catalog.searchTerms = {{"person", {"user", "account"}},
                           {"person.fill", {"profile", "account", "avatar"}},
                           {"briefcase", {"work", "bag"}},
                           {"car", {"drive"}}};
    catalog.fillForBase = {{"person", "person.fill"},
                           {"person.circle", "person.circle.fill"},
                           {"star", "star.fill"},
                           {"briefcase", "briefcase.fill"}};
    for (auto it = catalog.fillForBase.begin(); it != catalog.fillForBase.end(); ++it)
        catalog.baseForFill.insert(it.value(), it.key());
    catalog.introducedYear = {{"person", "2019"}, {"person.fill", "2019"}, {"car", "2030"}};
    catalog.macOSForYear = {{"2019", "10.15"}};
    return catalog;
}

} // namespace test
