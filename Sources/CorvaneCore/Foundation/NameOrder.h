#pragma once

#include <QString>

// The order in which a file browser lists names: without regard to case, language-aware, and with runs of
// digits compared by their value ("Profile 2" before "Profile 10").
namespace NameOrder {

// Negative, zero or positive as `a` sorts before, with or after `b`.
int compare(const QString& a, const QString& b);
inline bool less(const QString& a, const QString& b) {
    return compare(a, b) < 0;
}

} // namespace NameOrder
