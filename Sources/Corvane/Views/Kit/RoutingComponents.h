#pragma once

// The controls every routing page shares: source apps and application icons, route targets, list boxes.
#include "Corvane/Views/Kit/ListBox.h"
#include "Corvane/Views/Kit/RouteTargetControls.h"
#include "Corvane/Views/Kit/SourceAppControls.h"
