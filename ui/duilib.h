#pragma once
// The UI library: controls, windows, layouts, menus, tray icon, texts.
#include "ui/builder.h"
#include "ui/control.h"
#include "ui/dui_string.h"
#include "ui/menu.h"
#include "ui/paint_manager.h"
#include "ui/resource_manager.h"
#include "ui/window.h"
