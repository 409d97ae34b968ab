// The program's string table: identity strings and, for each command, its status-bar prompt
// and its tooltip (stored as "prompt\ntooltip", as the menus and the toolbar read them).
#pragma once

#include <QString>

// The whole entry for an id; empty when the table has none.
QString LoadResourceString(int nId);
// The part before the line feed: what the status bar shows while a command is hovered.
QString LoadPrompt(int nId);
// The part after the line feed: the toolbar button's tooltip.
QString LoadToolTip(int nId);
