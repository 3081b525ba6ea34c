#pragma once

// The controls every routing page shares: source apps and application icons, route targets, list boxes.
#include "Corvane/Views/ListBox.h"
#include "Corvane/Views/RouteTargetControls.h"
#include "Corvane/Views/SourceAppControls.h"
