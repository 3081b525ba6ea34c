#include "CorvaneHost/Linux/UnavailableWindowList.h"

#include "CorvaneHost/Services.h"

namespace host {

std::optional<QVariantList> UnavailableWindowList::windowList(int, quint32) {
    // No windows can be seen here, so the truthful answer is a list without entries.
    return QVariantList{};
}

WindowList& windowList() {
    return ensureService(services().windowList, [] { return std::make_shared<UnavailableWindowList>(); });
}

} // namespace host
