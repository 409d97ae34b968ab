// Command and control numbers. They are the program's stable identities for its commands:
// menus, keys, toolbar buttons and display-bar controls all issue them, and the routing in
// CMainFrame::OnCommand hands them to the active view, the document, the frame and the
// application in that order.
#pragma once

namespace ids {

// Resources shared by the main window: menu, keys, icon, toolbar and display bar.
inline constexpr int IDR_MAINFRAME = 128;

// File menu and keys.
inline constexpr int ID_FILE_NEW = 57600;
inline constexpr int ID_FILE_OPEN = 57601;
inline constexpr int ID_FILE_SAVE = 57603;
inline constexpr int ID_FILE_SAVE_AS = 57604;
inline constexpr int ID_FILE_MRU_FIRST = 57616; // recent files 1 to 8: 57616 to 57623
inline constexpr int ID_FILE_MRU_LAST = 57623;
inline constexpr int ID_APP_EXIT = 57665;
inline constexpr int ID_SAVE_RGB_CHANNELS = 32772;
inline constexpr int ID_TOOLBAR_RGB = 32773;
inline constexpr int ID_CHECK_SELECTED = 32774;
inline constexpr int ID_UNCHECK_SELECTED = 32775;
inline constexpr int ID_EXPORT_FITS = 32776;

// View menu: zoom, and Go to Frame.
inline constexpr int ID_VIEW_ZOOM_IN = 32777;
inline constexpr int ID_VIEW_ZOOM_OUT = 32778;
inline constexpr int ID_VIEW_ACTUAL_SIZE = 32779;
inline constexpr int ID_VIEW_FIT = 32780;
inline constexpr int ID_GOTO_FRAME = 32781;

// View menu: the display levels' bar, shown or hidden.
inline constexpr int ID_VIEW_LEVELS = 32787;

// Edit menu: keep the sharpest frames ticked.
inline constexpr int ID_CHECK_BEST = 32782;

// Esc and the status bar's Cancel button while an export runs: stop it.
inline constexpr int ID_EXPORT_CANCEL = 32783;

// View menu: the byte order of a SER capture's 16-bit samples.
inline constexpr int ID_BYTE_ORDER_AUTO = 32784;
inline constexpr int ID_BYTE_ORDER_LITTLE = 32785;
inline constexpr int ID_BYTE_ORDER_BIG = 32786;

// View menu: playback of the capture as a film, its rates, Loop and Ticked frames only. Apart
// from the numbers above so that further commands of theirs have room.
inline constexpr int ID_PLAY_PAUSE = 32800;
inline constexpr int ID_PLAY_RATE_OWN = 32801;
inline constexpr int ID_PLAY_RATE_5 = 32802;
inline constexpr int ID_PLAY_RATE_10 = 32803;
inline constexpr int ID_PLAY_RATE_25 = 32804;
inline constexpr int ID_PLAY_RATE_50 = 32805;
inline constexpr int ID_PLAY_RATE_100 = 32806;
inline constexpr int ID_PLAY_RATE_FASTEST = 32807;
inline constexpr int ID_PLAY_LOOP = 32808;
inline constexpr int ID_PLAY_TICKED_ONLY = 32809;

// Edit keys. Undo puts the ticks back as they were before the last change; the others have no
// handler, so they do nothing.
inline constexpr int ID_EDIT_UNDO = 57643;
inline constexpr int ID_EDIT_CUT = 57635;
inline constexpr int ID_EDIT_COPY = 57634;
inline constexpr int ID_EDIT_PASTE = 57637;

// View and Help menus, pane keys.
inline constexpr int ID_VIEW_TOOLBAR = 59392;
inline constexpr int ID_VIEW_STATUS_BAR = 59393;
inline constexpr int ID_NEXT_PANE = 57680;
inline constexpr int ID_PREV_PANE = 57681;
inline constexpr int ID_APP_ABOUT = 57664;

// Status-bar indicators.
inline constexpr int ID_INDICATOR_CAPS = 59137;
inline constexpr int ID_INDICATOR_NUM = 59138;
inline constexpr int ID_INDICATOR_SCRL = 59139;

// Display bar controls.
inline constexpr int IDC_DISPLAY_NORMAL = 1004;
inline constexpr int IDC_DISPLAY_RAW_Y = 1005;
inline constexpr int IDC_DISPLAY_RAW_COLOUR = 1006;
inline constexpr int IDC_ALGORITHM = 1009;
inline constexpr int IDC_PATTERN_BG = 1010;
inline constexpr int IDC_PATTERN_GB = 1011;
inline constexpr int IDC_PATTERN_RG = 1012;
inline constexpr int IDC_PATTERN_GR = 1013;
inline constexpr int IDC_SWAP_RED_BLUE = 1014;
inline constexpr int IDC_GRAYSCALE = 1016;

// The Export Fits Frames dialog and its controls.
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr int IDD_EXPORT_FITS = 153;
inline constexpr int IDC_BLOCK_SIZE = 1017;
inline constexpr int IDC_PREFIX = 1018;
inline constexpr int IDC_FOLDER = 1019;
inline constexpr int IDC_BROWSE_FOLDER = 1020;

// Strings.
inline constexpr int AFX_IDS_APP_TITLE = 57344;
inline constexpr int AFX_IDS_IDLEMESSAGE = 57345;
inline constexpr int AFX_IDS_UNTITLED = 61443;
inline constexpr int AFX_IDP_FAILED_TO_CREATE_DOC = 61700;

} // namespace ids
