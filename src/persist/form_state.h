#pragma once
// Saving and restoring the persistent controls of one window in one section of an INI file
// (the state file, the scenario file and project files all use it). The section is named
// after the window's objectName(), each control's keys after the control's objectName().
//
// The controls are found by walking the window's children depth first in creation order, a
// container before what it holds, the pages of a tab widget in page order; children that are
// windows of their own are left out, and so are unnamed objects and Qt's internal parts (names
// starting "qt_"). What is stored, in this
// order of tests (every matching row applies):
//   1  QLineEdit that is no numeric field (TRealEdit, TSpinEdit, TBinHexEdit): the text
//   2  TSpinEdit (TIntSpinEdit too): value
//   3  QCheckBox: checked, 1/0
//   4  QSlider: value
//   5  QToolButton whose dynamic property "groupIndex" is not 0: checked, 1/0
//   6  TRadioGroup: itemIndex (-1 none)
//   7  TRealSpinEdit: value as float text (plain TRealEdit fields are not stored)
//   8  TTabbedNotebook: pageIndex
//   9  TBinHexEdit: name+"AsBin", name+"AsHex", name+"AsInteger"
//   10 TStringGrid: name+"ColCount", name+"RowCount", then every cell (formvalue::gridCellKey)
//   11 TPageControl: activePageIndex (-1 none)
// The section holds "Top", "Left", "Width", "Height" first and "Wisible", "Enabled" last.
//
// Position and size are the window's frame (frameGeometry()), as the platform stored them:
// loading moves the window so that its frame's corner lands on Top/Left and resizes it so that
// the frame is Width x Height, also for a window whose frame the window manager adds only after
// it is shown (window_placement.h); a window shown off every screen is brought onto one.
// Width and Height are read only for a sizeable window (minimumSize() != maximumSize()).
//
// Between controls pending UI events are processed, so that timers and the exchange cycle's
// hand-overs to the UI thread go on during a long save or load.

#include <QList>
#include <QString>

class QWidget;

// Rewrites the window's section whole (erased first, so keys of controls that no longer exist
// go). The window is disabled meanwhile; its enabled state and visibility are put back after.
// False, after "Unable to write to <file>" was shown, when the file cannot be written (with a
// second line naming another user's link that was not followed). A null window does nothing
// (true).
bool SaveFormState(const QString& fileName, QWidget* window);

// SaveFormState for several windows in order, with one read and one write of the file (the
// file comes out as after one call per window). One "Unable to write" at most.
bool SaveFormStates(const QString& fileName, const QList<QWidget*>& windows);

// Applies the window's section through the controls' normal setters; missing keys, files and
// integer texts that are no number keep the current values. Every value enters its control
// within that control's own limits, silently: real and integer fields, sliders and binary/hex
// fields are clamped to their limits, a page index to the pages there are (a control with pages
// is never left without one), a radio index by the group's own rule (below -1 none, beyond the
// last item the last). A float text that is no number
// stops the load at that control with "'<text>' is not a valid floating point value" and gives
// false: the controls before it keep their new values, the rest and the window's visibility
// their old ones, and the caller should not go on with the next window. The file was not read
// whole, and the next save over it would write those old values over what it holds: it is kept
// as it was first (keepDatedCopy, once per file and text), and the box names the copy in a
// second line. "Enabled" is never
// read. A null window does nothing (true).
bool LoadFormState(const QString& fileName, QWidget* window);
